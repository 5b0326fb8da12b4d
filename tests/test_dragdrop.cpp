// Files dropped on the entry grid and on the player window, and lists of other tools
// imported through the grid's menu.
#include "playback/mediaplayer.h"
#include "services/messages.h"
#include "storage/modkelini.h"
#include "storage/playliststore.h"
#include "support/sandbox.h"
#include "support/testkit.h"
#include "windows/entrygrid.h"
#include "windows/forms.h"
#include "windows/frmplayer.h"
#include "windows/frmplaylist.h"

#include <QMimeData>
#include <QUrl>
#include <QtTest>

using services::MessageRequest;

namespace {

// Sends the drag's enter and drop as the window system would; true when both were taken.
bool drop(QWidget* target, const QList<QUrl>& urls)
{
    QMimeData data;
    data.setUrls(urls);
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &dropped);
    return dropped.isAccepted();
}

QList<QUrl> files(const QStringList& paths)
{
    QList<QUrl> urls;
    for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
    return urls;
}

} // namespace

class DragDropTest : public QObject {
    Q_OBJECT
    testkit::Sandbox* box = nullptr;
    panel::frmPlayList* panel() { return forms::frmPlayList(); }
    panel::EntryGrid* grid() { return panel()->lstSelector(); }

private slots:
    void initTestCase() { testkit::useFakeEngines(); }
    void init()
    {
        box = new testkit::Sandbox;
        storage::AddNewPlayList("Drills");
        storage::SavePlayList("Drills", {{box->c, "1", "2", "0.5", "1"}});
        panel()->ReLoadINI();
    }
    void cleanup()
    {
        forms::resetAll();
        services::setFileAnswer({});
        delete box;
    }

    void dropOnTheGrid_data()
    {
        QTest::addColumn<QStringList>("names");  // files of the sandbox, or written below
        QTest::addColumn<QList<QStringList>>("added");
        QTest::addColumn<int>("questions");  // "New Playlist?" asked
        QTest::newRow("media files: whole-file entries")
            << QStringList{"a.wav", "b.wav"}
            << QList<QStringList>{{"a.wav", "0", "0", "1", "1"}, {"b.wav", "0", "0", "1", "1"}} << 0;
        QTest::newRow("a playlist file imports")
            << QStringList{"list.obs"} << QList<QStringList>{{"b.wav", "3", "4", "0.5", "2"}} << 1;
        QTest::newRow("a CUE sheet imports")
            << QStringList{"list.cue"} << QList<QStringList>{{"a.wav", "0", "1.2", "1", "1"}} << 1;
        QTest::newRow("a folder is not taken") << QStringList{"."} << QList<QStringList>{} << 0;
    }
    void dropOnTheGrid()
    {
        QFETCH(QStringList, names);
        QFETCH(QList<QStringList>, added);
        QFETCH(int, questions);
        testkit::writeBytes(box->path("list.obs"),
                            "[Main]\nFileCount=0\n[Playlist]\nFileName0=" + box->b.toUtf8() +
                                "\nFileStart0=3\nFileStop0=4\nFileRate0=0.5\nFileLoop0=2\n");
        testkit::writeBytes(box->path("list.cue"), "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
                                                   "REM STOP 00:01:15\n");
        testkit::MessageRecorder msgs(services::vbAbort);  // " Existing " playlist
        QStringList paths;
        for (const QString& n : names) paths << box->path(n);
        QCOMPARE(drop(grid()->viewport(), files(paths)), !added.isEmpty());
        QCOMPARE(grid()->rowCount(), 1 + added.size());
        for (int i = 0; i < added.size(); ++i) {
            QStringList want = added[i];
            want[0] = box->path(want[0]);
            QCOMPARE(grid()->rowTexts(2 + i), want);
        }
        QCOMPARE(storage::DoINI("Drills", "FileCount", "", false, ""), QString::number(1 + added.size()));
        QCOMPARE(int(std::count_if(msgs.messages.begin(), msgs.messages.end(),
                                   [](const MessageRequest& r) { return r.title == "New Playlist?"; })),
                 questions);
    }

    void dropOnThePlayerPlaysTheFile()
    {
        windows::frmPlayer* w = forms::frmPlayer();
        QVERIFY(!drop(w, {QUrl("https://example.org/a.mp3")}));
        QVERIFY(drop(w, files({box->b, box->a})));
        QCOMPARE(w->MediaPlayer1()->control()->FileName(), box->b);
        QCOMPARE(w->MediaPlayer1()->control()->PlayState(), engine::PlayState::Playing);  // playing
    }

    void audacityLabelsAskForTheirMediaFile()
    {
        testkit::writeBytes(box->path("labels.txt"), "1.5\t2.5\tVerse\n4\t6\tChorus\n");
        testkit::MessageRecorder msgs(services::vbAbort);
        QStringList asked;
        services::setFileAnswer([&](const services::FileDialogRequest& r) {
            asked << r.title;
            return r.title == "Media File of the Labels" ? box->a : box->path("labels.txt");
        });
        panel()->ExportImportPlayList(true);
        QCOMPARE(asked.size(), 2);
        QCOMPARE(grid()->rowCount(), 3);
        QCOMPARE(grid()->rowTexts(3), QStringList({box->a, "4", "6", "1", "1", "", "", "", "", "Chorus"}));
        QVERIFY(msgs.messages.first().text.contains("each label kept as its text"));
    }

    void exportToALoopListSaysWhatIsLost()
    {
        testkit::MessageRecorder msgs;
        services::setFileAnswer([&](const services::FileDialogRequest&) { return box->path("out.m3u"); });
        panel()->ExportImportPlayList(false);
        QCOMPARE(msgs.messages.last().title, QString("Export Complete."));
        QVERIFY(msgs.messages.last().text.contains("no rate"));
        QFile f(box->path("out.m3u"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll().contains("#EXTVLCOPT:stop-time=2\n" + box->c.toUtf8()));
    }
};

QTEST_MAIN(DragDropTest)
#include "test_dragdrop.moc"
