// The playlist files under faults and hostile input: a full disk, counts and values no real
// playlist has, things that are not files, and folders the user may not write.
#include "app/globals.h"
#include "storage/filebytes.h"
#include "storage/modkelini.h"
#include "storage/playlistfile.h"
#include "storage/playliststore.h"
#include "support/sandbox.h"
#include "support/testkit.h"
#include "windows/entrygrid.h"
#include "windows/forms.h"
#include "windows/frmplaylist.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace storage;

namespace {

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

QList<EntryTexts> rows(int count)
{
    QList<EntryTexts> list;
    for (int i = 1; i <= count; ++i) list.append({"/media/track" + QString::number(i) + ".mp3", "1", "2", "1", "1"});
    return list;
}

// Permission checks as a user other than root, who may write anywhere.
struct AsOtherUser {
    const bool root = ::geteuid() == 0;
    AsOtherUser() { if (root) (void)::seteuid(65534); }
    ~AsOtherUser() { if (root) (void)::seteuid(0); }
};

} // namespace

class StorageFaultsTest : public QObject {
    Q_OBJECT
    std::optional<testkit::Sandbox> m_box;

    QString file(const QString& name, const QByteArray& bytes) { return testkit::writeBytes(m_box->path(name), bytes); }

private slots:
    void initTestCase() { testkit::useFakeEngines(); }
    void init()
    {
        m_box.emplace();
        QFile::setPermissions(m_box->dir.path(), QFile::Permissions(0x7755));
        const QString copies = m_box->path("copies");
        QDir().mkpath(copies);
        QFile::setPermissions(copies, QFile::Permissions(0x7777));
        setSafetyCopyFolder(copies);
    }
    void cleanup()
    {
        forms::resetAll();
        m_box.reset();
    }

    // --- a full disk: a small file system that the test fills --------------------------

    void aFileKnownAlreadyIsComparedNotCopied()
    {
        const QByteArray known = "[Main]\nk=1\n";
        const struct { const char* now; bool same; } cases[] = {
            {"[Main]\nk=1\n", true}, {"[Main]\nk=2\n", false}, {"[Main]\nk=1\n\n", false}, {"[Main]\n", false}};
        for (const auto& c : cases) {
            const FileRead read = readFileBytes(file("known.ini", c.now), kMaxPlayListFileBytes, &known);
            QCOMPARE(read.status, FileRead::Status::Read);
            QCOMPARE(read.same, c.same);
            QCOMPARE(read.bytes, QByteArray(c.now));
        }
    }

    void fullDiskKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("free");
        QTest::newRow("small save, nothing free") << "save" << 0;
        QTest::newRow("small save, 4 KiB free") << "save" << 4096;
        QTest::newRow("export over an old file") << "export" << 0;
        QTest::newRow("export to a new file") << "new export" << 0;
    }
    void fullDiskKeepsTheOldFile()
    {
        QFETCH(QString, what);
        QFETCH(int, free);
        const QString disk = m_box->path("disk");
        QDir().mkpath(disk);
        if (::mount("tmpfs", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("no tmpfs can be mounted here (needs root)");
        const auto unmount = qScopeGuard([&] { ::umount(QFile::encodeName(disk).constData()); });
        const QByteArray old = "[Main]\r\nPlayListCount=1\r\nPlayList1=L\r\n\r\n[L]\r\nFileCount=1\r\nFileName1=/a.wav\r\n";
        const QString target = testkit::writeBytes(disk + (what == "save" ? "/vamplet.ini" : "/list.obs"), old);
        QFile filler(disk + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(512, 'f')) > 0) {}
        QVERIFY(filler.resize(std::max<qint64>(0, filler.size() - free)));
        filler.close();

        WriteOutcome outcome;
        if (what == "save") {
            app::strIniPath = target;
            QCOMPARE(SavePlayList("L", rows(100), &outcome), SaveResult::Failed);
        } else {
            QList<EntryRecord> entries(39, {0, "/media/a.mp3", 1, 2, 1, 1});
            outcome = ExportPlayListFile(what == "export" ? target : disk + "/fresh.obs", entries);
        }
        QVERIFY(!outcome);
        QVERIFY2(outcome.error.contains("space"), qPrintable(outcome.error));
        QCOMPARE(bytesOf(target), old);
        QCOMPARE(QDir(disk).entryList(QDir::Files | QDir::Hidden), QStringList({"filler", QFileInfo(target).fileName()}));
    }

    // --- a kill at any step of a save ------------------------------------------------------

    void aKillAnywhereLeavesTheOldOrTheNewFile_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("newSize");
        QTest::newRow("new file") << "new" << 200000;
        QTest::newRow("replaced") << "replace" << 200000;
        QTest::newRow("in place, longer") << "in place" << 300000;
        QTest::newRow("in place, shorter") << "in place" << 1000;
    }
    void aKillAnywhereLeavesTheOldOrTheNewFile()
    {
        QFETCH(QString, how);
        QFETCH(int, newSize);
        const QString folder = m_box->path("prog");
        const QString target = folder + "/vamplet.ini";
        const QByteArray old(how == "new" ? 0 : 150000, 'o'), fresh(newSize, 'n');
        struct Gate {
            int steps = 0, killAt = 0;
            bool restarted = false;
        } gate;
        detail::setStepGate([](void* g) { auto* s = static_cast<Gate*>(g); return s->restarted || s->steps++ < s->killAt; }, &gate);
        const auto ungate = qScopeGuard([] { detail::setStepGate(nullptr, nullptr); });
        for (;; ++gate.killAt) {
            QFile::setPermissions(folder, QFile::Permissions(0x7777));
            QDir(folder).removeRecursively();
            QDir().mkpath(folder);
            QFile::setPermissions(folder, QFile::Permissions(0x7777));
            if (how != "new") testkit::writeBytes(target, old);
            QFile::setPermissions(target, QFile::Permissions(0x6666));
            if (how == "in place") QFile::setPermissions(folder, QFile::Permissions(0x5555));
            gate.steps = 0;
            gate.restarted = false;
            QString why;
            {
                AsOtherUser other;
                why = writeFileBytes(target, fresh);
                gate.restarted = true;
                recoverUnfinishedWrites(target);  // the next start
            }
            const bool finished = why.isEmpty();
            QVERIFY2(finished || why == "stopped", qPrintable(why));
            const QByteArray now = QFile::exists(target) ? bytesOf(target) : QByteArray();
            QVERIFY2(now == (finished ? fresh : old), qPrintable(QString("killed at step %1").arg(gate.killAt)));
            QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QFile::exists(target) ? QStringList("vamplet.ini") : QStringList());
            QCOMPARE(QDir(m_box->path("copies")).entryList(QDir::Files | QDir::Hidden).join(","), QString());
            if (finished) break;
        }
        QVERIFY(gate.killAt >= 5);  // every path has that many steps at least
        QFile::setPermissions(folder, QFile::Permissions(0x7777));
    }

    // --- two programs writing one file ------------------------------------------------------

    void aSecondWriterWaitsForTheLock()
    {
        app::strIniPath = file("vamplet.ini", "[Main]\nPlayListCount=1\nPlayList1=A\n");
        const QByteArray before = bytesOf(app::strIniPath);
        setLockWaitMs(0);
        const auto restore = qScopeGuard([] { setLockWaitMs(3000); });
        const int other = ::open(QFile::encodeName(m_box->dir.path()).constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(::flock(other, LOCK_EX) == 0);
        const WriteOutcome refused = AddNewPlayList("B");
        QVERIFY2(refused.error.contains("lock"), qPrintable(refused.error));
        QCOMPARE(bytesOf(app::strIniPath), before);
        ::close(other);
        QVERIFY(AddNewPlayList("B"));
        QCOMPARE(readPlayListNames().names, QStringList({"A", "B"}));
    }

    // --- nothing written unasked ----------------------------------------------------------

    void startingWritesNothing_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::newRow("no last list") << QByteArray("[Main]\nPlayListCount=1\nPlayList1=A\n[A]\nFileCount=1\nFileName1=/a.wav\n");
        QTest::newRow("a count no file holds") << QByteArray("[Main]\r\nPlayListCount=100000000\r\nPlayList1=A\r\n");
    }
    void startingWritesNothing()
    {
        QFETCH(QByteArray, ini);
        app::strIniPath = file("vamplet.ini", ini);
        testkit::MessageRecorder msgs;
        forms::frmPlayList();
        QCOMPARE(bytesOf(app::strIniPath), ini);
        QCOMPARE(setLastPlayList("A").wrote, false);
    }

    // --- counts no real playlist has -----------------------------------------------------

    void countsCostOnlyWhatTheFileHolds()
    {
        const QByteArray ini = "[Main]\nPlayListCount=2147483647\nPlayList1=A\nLastPlayList=A\n"
                               "[A]\nFileCount=2147483647\nFileName1=/a.wav\nFileName2=/b.wav\nFileStop9=3\n";
        app::strIniPath = file("vamplet.ini", ini);
        QCOMPARE(readPlayListNames().names, QStringList("A"));
        const QList<EntryRecord> shown = loadPlayList("A");
        QCOMPARE(shown.size(), 3);  // numbers that have a key, and no blank rows between
        QCOMPARE(shown[2].Stop, 3.0);
        QCOMPARE(bytesOf(app::strIniPath), ini);  // reading never writes
        QCOMPARE(SavePlayList("A", rows(3)), SaveResult::Saved);
        QVERIFY(QFileInfo(app::strIniPath).size() < 400);

        const QString obs = file("x.obs", "[Main]\nFileCount=2147483647\n[Playlist]\nFileName2147483647=/x.wav\n");
        QVERIFY(ImportPlayListFile(obs));
        QCOMPARE(ImportEntries.size(), 1);
        QCOMPARE(ImportEntries[0].FileName, QString("/x.wav"));
    }

    // --- long values, large files and things that are not files --------------------------

    void hostileFilesAreReadBoundedAndNeverChanged_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("cut");
        QTest::newRow("1 MB file name") << "long" << true;
        QTest::newRow("20 MB file") << "large" << false;
        QTest::newRow("pipe") << "fifo" << false;
        QTest::newRow("folder") << "folder" << false;
    }
    void hostileFilesAreReadBoundedAndNeverChanged()
    {
        QFETCH(QString, kind);
        QFETCH(bool, cut);
        app::strIniPath = m_box->path("vamplet.ini");
        const QByteArray head = "[Main]\nPlayListCount=1\nPlayList1=A\n[A]\nFileCount=1\nFileName1=";
        if (kind == "long") file("vamplet.ini", head + QByteArray(1 << 20, 'n') + "\n");
        if (kind == "large") file("vamplet.ini", head + QByteArray(20 << 20, 'n') + "\n");
        if (kind == "fifo") QCOMPARE(::mkfifo(QFile::encodeName(app::strIniPath).constData(), 0644), 0);
        if (kind == "folder") QVERIFY(QDir().mkdir(app::strIniPath));
        const bool regular = kind == "long" || kind == "large";
        const QByteArray before = regular ? bytesOf(app::strIniPath) : QByteArray();

        const PlayListNames names = readPlayListNames();  // a pipe must not block this
        QCOMPARE(names.notice.unreadable.isEmpty(), cut);
        ReadNotice notice;
        const QList<EntryRecord> shown = loadPlayList("A", &notice);
        QCOMPARE(notice.cut, cut);
        if (cut) QCOMPARE(shown.value(0).FileName.size(), kMaxValueLength);
        QCOMPARE(SavePlayList("A", rows(1)) == SaveResult::Saved, cut);  // only a file read whole is written
        if (!cut) QVERIFY(!ImportPlayListFile(app::strIniPath));
        if (!cut && regular) QCOMPARE(bytesOf(app::strIniPath), before);
        QCOMPARE(QFileInfo(app::strIniPath).isFile(), regular);
    }

    void linesAreCountedToTheBound()
    {
        app::strIniPath = m_box->path("vamplet.ini");
        const QByteArray head = "[Main]\nPlayListCount=1\nPlayList1=A\n";  // three line breaks
        for (const qsizetype breaks : {kMaxPlayListFileLines - 1, kMaxPlayListFileLines}) {
            file("vamplet.ini", head + QByteArray(breaks - 3, '\n'));
            QCOMPARE(readPlayListNames().notice.unreadable.isEmpty(), breaks < kMaxPlayListFileLines);
        }
    }

    // --- folders and files the user may not write ------------------------------------------

    void readOnlyPlaces()
    {
        const QString prog = m_box->path("prog");
        QDir().mkpath(prog);
        const QByteArray ini = "[Main]\r\nPlayListCount=1\r\nPlayList1=Mine\r\n\r\n[Mine]\r\nFileCount=1\r\nFileName1=/a.wav\r\n";
        const QString userIni = testkit::writeBytes(prog + "/vamplet.ini", ini);
        QFile::setPermissions(userIni, QFile::Permissions(0x6666));
        QFile::setPermissions(prog, QFile::Permissions(0x5555));
        const auto restore = qScopeGuard([&] { QFile::setPermissions(prog, QFile::Permissions(0x7755)); });
        auto inode = [&] {
            struct stat st{};
            return ::stat(QFile::encodeName(userIni).constData(), &st) == 0 ? st.st_ino : 0;
        };
        const ino_t before = inode();
        {  // A writable file in a folder that is not: saved in place, never torn.
            AsOtherUser other;
            app::strIniPath = app::iniPathFor(prog, "Vamplet", m_box->path("fallback"));
            QCOMPARE(app::strIniPath, userIni);
            QCOMPARE(SavePlayList("Mine", rows(2)), SaveResult::Saved);
            QCOMPARE(loadPlayList("Mine").size(), 2);
            QCOMPARE(inode(), before);
        }
        // The user's file that may not be written: still the one shown, and the user told.
        QFile::setPermissions(userIni, QFile::Permissions(0x4444));
        AsOtherUser other;
        QCOMPARE(app::iniPathFor(prog, "Vamplet", m_box->path("fallback")), userIni);
        const QByteArray kept = bytesOf(userIni);
        testkit::MessageRecorder msgs;
        panel::frmPlayList* p = forms::frmPlayList();
        QCOMPARE(p->lstSelector()->rowCount(), 2);
        QCOMPARE(msgs.messages.size(), 1);
        QVERIFY(msgs.messages[0].text.contains("cannot be kept"));
        p->AddListEntry(m_box->a, 0, 1, 1, 1);  // already told: not told again at each change
        QCOMPARE(msgs.messages.size(), 1);
        QCOMPARE(bytesOf(userIni), kept);

        // Nor read: told that, once, and nothing about writing.
        forms::resetAll();
        msgs.messages.clear();
        (void)::seteuid(0);
        QFile::setPermissions(userIni, QFile::Permissions());
        (void)::seteuid(65534);
        forms::frmPlayList();
        QCOMPARE(msgs.messages.size(), 1);
        QVERIFY2(msgs.messages[0].text.contains("cannot be read"), qPrintable(msgs.messages[0].text));
    }
};

QTEST_MAIN(StorageFaultsTest)
#include "test_storage_faults.moc"
