// The file dialogs' filters and what the media-file helpers hand back.
#include "services/keldialogs.h"
#include "services/messages.h"

#include <QtTest>

using services::FileDialogRequest;

class DialogsTest : public QObject {
    Q_OBJECT
    QList<FileDialogRequest> asked;
    void answer(const QString& path)
    {
        asked.clear();
        services::setFileAnswer([this, path](const FileDialogRequest& r) {
            asked << r;
            return path;
        });
    }

private slots:
    void cleanup() { services::setFileAnswer({}); }

    void mediaFilterBecomesSevenEntries()
    {
        const QStringList f = services::dialogFilters(services::kMediaFilter);
        QCOMPARE(f.size(), 7);
        QVERIFY(f[0].startsWith("All Media Files (*.wav *.snd *.au *.aif *.aifc *.aiff *.wma *.mp3 *.mid"));
        QVERIFY(f[0].endsWith("*.wm *.wma *.wmv *.wmd)"));
        QCOMPARE(f[2], QString("MIDI File (*.mid *.rmi *.midi)"));
        QCOMPARE(f[3], QString("Movie File (mpeg) (*.mpeg *.mpg *.m1v *.mp2 *.mpa *.mpe)"));
        QCOMPARE(f[4], QString("Video File (*.avi *.wmv)"));
        QCOMPARE(f[6], QString("All Files (*.*)"));
    }

    void filterWithoutFinalBar()
    {
        QCOMPARE(services::dialogFilters("Text|*.txt"), QStringList({"Text (*.txt)"}));
        QCOMPARE(services::dialogFilters("Vamplet PlayList File|*.obs;*.vamplet|All Files (*.*)|*.*|"),
                 QStringList({"Vamplet PlayList File (*.obs *.vamplet)", "All Files (*.*)"}));
        QCOMPARE(services::dialogFilters(""), QStringList());
    }

    void trimNulls()
    {
        QCOMPARE(services::TrimNulls(QString("  a b") + QChar(u'\0') + QChar(u'\0')), QString("a b"));
        QCOMPARE(services::TrimNulls(QString()), QString());
    }

    void openReturnsThePathAndWritesTheNameBack()
    {
        answer("/music/a.mp3");
        QString name;
        QCOMPARE(services::OpenMediaFile(name, "", "", "", ""), QString("/music/a.mp3"));
        QCOMPARE(name, QString("a.mp3"));
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].kind, services::FileDialogKind::Open);
        QCOMPARE(asked[0].title, QString("Choose a media file ..."));
        QCOMPARE(asked[0].filters.size(), 7);
        QCOMPARE(asked[0].filterIndex, 0);
    }

    void cancelLeavesEverythingAlone()
    {
        answer(QString());
        QString name = "keep.obs";
        QCOMPARE(services::SaveMediaFile(name, "", "Save", "obs", "/tmp"), QString());
        QCOMPARE(name, QString("keep.obs"));
        QCOMPARE(asked[0].fileName, QString("keep.obs"));
        QCOMPARE(asked[0].defaultSuffix, QString("obs"));
        QCOMPARE(asked[0].folder, QString("/tmp"));
        QVERIFY(asked[0].confirmOverwrite);
        QCOMPARE(asked[0].kind, services::FileDialogKind::Save);
    }

    void classProperties()
    {
        answer("/x/y/list.obs");
        services::clsKelDialogs d;
        QCOMPARE(d.MaxFileSize, qint16(260));
        d.Filter = "A|*.a|B|*.b|";
        d.FilterIndex = 2;
        QVERIFY(d.Show(false));
        QCOMPARE(asked[0].filterIndex, 1);
        QVERIFY(!asked[0].confirmOverwrite);  // only with the overwrite flag
        QCOMPARE(d.FileName, QString("/x/y/list.obs"));
        QCOMPARE(d.FileTitle, QString("list.obs"));

        d.FileName = QString(300, 'x');  // longer than the buffer: cancelled
        QVERIFY(!d.Show(true));

        answer("/chosen");
        QString title;
        QCOMPARE(d.GetDirectory(title), QString("/chosen"));
        QCOMPARE(title, QString("Choose Directory"));
        QCOMPARE(asked[0].kind, services::FileDialogKind::Folder);
    }
};

QTEST_MAIN(DialogsTest)
#include "test_dialogs.moc"
