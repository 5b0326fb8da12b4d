// Path helpers, the INI file's place and the command line.
#include "app/commandline.h"
#include "app/globals.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

class PathsTest : public QObject {
    Q_OBJECT
private slots:
    void fileNameAndFolder_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("folder");
        QTest::newRow("windows path") << "C:\\Music\\a.wav" << "a.wav" << "C:\\Music\\";
        QTest::newRow("unix path") << "/home/me/a.wav" << "a.wav" << "/home/me/";
        QTest::newRow("mixed separators") << "/home/me\\sub/a.wav" << "a.wav" << "/home/me\\sub/";
        QTest::newRow("bare name") << "a.wav" << "a.wav" << QString(QDir::separator());
        QTest::newRow("folder only") << "C:\\Music\\" << "" << "C:\\Music\\";
        QTest::newRow("empty") << "" << "" << QString(QDir::separator());
        QTest::newRow("upper case name") << "C:\\MEDIA\\DING.MP3" << "DING.MP3" << "C:\\MEDIA\\";
    }
    void fileNameAndFolder()
    {
        QFETCH(QString, path);
        QFETCH(QString, fileName);
        QFETCH(QString, folder);
        QCOMPARE(app::GetFileName(path), fileName);
        QCOMPARE(app::GetFolder(path), folder);
    }

    void iniPathKeepsTheFolderAndLowersTheName_data()
    {
        QTest::addColumn<QString>("exeBase");
        QTest::addColumn<bool>("besideProgram");
        QTest::addColumn<bool>("withDataFolder");
        QTest::addColumn<QString>("expected");  // relative to the temporary folder
        QTest::newRow("portable file beside the program") << "MyPlayer" << true << true << "Tools/myplayer.ini";
        QTest::newRow("no file beside: the data folder") << "MyPlayer" << false << true << "data/myplayer.ini";
        QTest::newRow("no data folder known") << "Vamplet" << false << false << "Tools/vamplet.ini";
    }
    void iniPathKeepsTheFolderAndLowersTheName()
    {
        QFETCH(QString, exeBase);
        QFETCH(bool, besideProgram);
        QFETCH(bool, withDataFolder);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QDir(dir.path()).mkdir("Tools");
        const QString folder = dir.filePath("Tools");
        if (besideProgram) QFile(folder + "/" + exeBase.toLower() + ".ini").open(QIODevice::WriteOnly);
        const QString data = withDataFolder ? dir.filePath("data") : QString();
        QCOMPARE(app::iniPathFor(folder, exeBase, data), dir.filePath(expected));
        // A folder given with its separator gets no second one.
        QCOMPARE(app::iniPathFor(folder + "/", exeBase, data), dir.filePath(expected));
    }

    void iniPathInARootFolder() { QCOMPARE(app::iniPathFor("/", "Vamplet", ""), QString("/vamplet.ini")); }

    void commandLine()
    {
        QCOMPARE(app::commandLineText({"vamplet"}), QString());
        QCOMPARE(app::commandLineText({"vamplet", "/music/my", "song.mp3"}), QString("/music/my song.mp3"));
        QCOMPARE(app::commandLinePath("\"/music/my song.mp3\""), QString("/music/my song.mp3"));
        QCOMPARE(app::commandLinePath("/music/a.mp3"), QString("/music/a.mp3"));
        QCOMPARE(app::commandLinePath(""), QString());
        QCOMPARE(app::commandLinePath("a.mp3"), QDir::current().absoluteFilePath("a.mp3"));
        // A lone quote is part of the name, not a wrapper.
        QCOMPARE(app::commandLinePath("\"x.mp3"), QDir::current().absoluteFilePath("\"x.mp3"));
    }

    void versionCaption() { QCOMPARE(app::versionCaption(), QString("Vamplet - Version 1.0")); }
};

QTEST_GUILESS_MAIN(PathsTest)
#include "test_paths.moc"
