// The About box: texts, layout, the system-information tool, the home page and the dots.
#include "services/twips.h"
#include "support/testkit.h"
#include "windows/artwork.h"
#include "windows/forms.h"
#include "windows/frmabout.h"
#include "windows/sysinfo.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using about::frmAbout;
using services::twipsRect;

// Takes the URLs the About box asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

class AboutTest : public QObject {
    Q_OBJECT
    int beeps = 0;
    QTemporaryDir tools;

    QPointer<frmAbout> openAbout()
    {
        QPointer<frmAbout> box = forms::frmAbout();
        box->show();
        return box;
    }

    // A tool that notes its own name in `ran` when started.
    QString writeTool(const QString& name, const QString& body = {})
    {
        const QString path = tools.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly)) return {};
        f.write(body.isEmpty() ? QStringLiteral("#!/bin/sh\necho %1 >> '%2'\n").arg(name, tools.filePath("ran")).toUtf8()
                               : body.toUtf8());
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

    static QColor at(const frmAbout& box, QPointF points)
    {
        const double perPoint = services::screenDpi() / 72.0;
        return box.drawing().pixelColor((points * perPoint).toPoint());
    }

private slots:
    void init()
    {
        beeps = 0;
        about::setBeepHandler([this] { ++beeps; });
        QVERIFY(tools.isValid());
        about::setSysInfoSearchPath({tools.path()});
    }
    void cleanup()
    {
        forms::resetAll();
        about::setBeepHandler({});
        about::setSysInfoSearchPath({});
        for (const QString& name : QDir(tools.path()).entryList(QDir::Files)) QFile::remove(tools.filePath(name));
    }

    // The captions are in tests/golden/captions.txt.
    void textsOnLoad()
    {
        QPointer<frmAbout> box = openAbout();
        QCOMPARE(about::versionLine(5, 2), QStringLiteral("Version 5.2"));
        QVERIFY(box->txtDisclaimer()->toPlainText().contains(QStringLiteral("warranty")));
        QVERIFY(box->txtDisclaimer()->isReadOnly());
    }

    void layoutInTwips()
    {
        QPointer<frmAbout> box = openAbout();
        QCOMPARE(box->size(), services::twipsSize(5730, 3825));
        QCOMPARE(box->minimumSize(), box->maximumSize());
        QCOMPARE(box->picIcon()->geometry(), QRect(twipsRect(360, 240, 0, 0).topLeft(), QSize(60, 79)));
        QCOMPARE(box->Picture2()->geometry(), twipsRect(1800, 240, 3975, 2145));
        QCOMPARE(box->lblTitle()->parentWidget(), box->Picture2());
        QCOMPARE(box->lblDescription()->geometry(), twipsRect(0, 885, 3885, 1170));
        QCOMPARE(box->Picture3()->geometry(), twipsRect(120, 2400, 5535, 1335));
        QCOMPARE(box->cmdOK()->parentWidget(), box->Picture3());
        QCOMPARE(box->cmdOK()->geometry(), twipsRect(4080, 120, 1260, 345));
        QCOMPARE(box->cmdSysInfo()->geometry(), twipsRect(4095, 570, 1245, 345));
        QCOMPARE(box->Picture1()->geometry(), twipsRect(0, 0, 5775, 3615));
        // The drawing area lies behind the others.
        QCOMPARE(box->childAt(box->Picture2()->geometry().center()), box->lblDescription());
        QCOMPARE(box->childAt(box->picIcon()->geometry().center()), box->picIcon());
        QCOMPARE(about::programPicture().size(), QSize(60, 79));
        QCOMPARE(about::programIcon().availableSizes().value(0), QSize(32, 32));
    }

    void sysInfoUnavailableWithoutATool()
    {
        testkit::MessageRecorder recorder;
        QPointer<frmAbout> box = openAbout();
        QTest::mouseClick(box->cmdSysInfo(), Qt::LeftButton);
        QCOMPARE(recorder.messages.size(), 1);
        const services::MessageRequest& m = recorder.messages[0];
        QCOMPARE(m.text, QStringLiteral("System Information Is Unavailable At This Time"));
        QCOMPARE(m.title, QStringLiteral("Vamplet"));
        QCOMPARE(m.buttons, services::MsgButtons::OK);
        QCOMPARE(m.icon, services::MsgIcon::None);
    }

    void sysInfoUnavailableWhenTheToolCannotStart()
    {
        writeTool(QStringLiteral("kinfocenter"), QStringLiteral("#!/nonexistent/interpreter\n"));
        testkit::MessageRecorder recorder;
        QPointer<frmAbout> box = openAbout();
        box->cmdSysInfo()->click();
        QCOMPARE(recorder.messages.size(), 1);
        QCOMPARE(recorder.messages[0].text, QStringLiteral("System Information Is Unavailable At This Time"));
    }

    void sysInfoStartsTheFirstToolFound()
    {
        writeTool(QStringLiteral("lshw-gtk"));
        const QString preferred = writeTool(QStringLiteral("hardinfo"));
        QCOMPARE(about::findSysInfoTool(), preferred);

        testkit::MessageRecorder recorder;
        QPointer<frmAbout> box = openAbout();
        box->cmdSysInfo()->click();
        QFile ran(tools.filePath("ran"));
        QTRY_VERIFY(ran.exists() && ran.size() > 0);
        QVERIFY(ran.open(QIODevice::ReadOnly));
        QCOMPARE(ran.readAll().trimmed(), QByteArray("hardinfo"));
        QVERIFY(recorder.messages.isEmpty());
    }

    void pictureOpensTheUserGuide()
    {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        QPointer<frmAbout> box = openAbout();
        QTest::mouseClick(box->picIcon(), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(catcher.opened.size(), 1);
        const QFileInfo guide(catcher.opened.front().toLocalFile());
        QVERIFY2(guide.isFile() && guide.size() > 0, qPrintable(guide.filePath()));
        QCOMPARE(beeps, 0); // the picture is not the drawing area
    }

    void dotCycle()
    {
        QPointer<frmAbout> box = openAbout();
        QCOMPARE(box->Timer1()->interval(), 5000);
        QVERIFY(box->Timer1()->isActive());
        QVERIFY(!box->DotTimer()->isActive());

        QList<double> randoms{0.25, 0.75};
        int next = 0;
        box->setRandomSource([&] { return randoms[next++ % randoms.size()]; });
        const QColor background = box->drawing().pixelColor(0, 0);
        const double perPoint = services::screenDpi() / 72.0;
        const QPointF place(0.25 * box->Picture1()->width() / perPoint, 0.75 * box->Picture1()->height() / perPoint);

        box->Timer1_Timer();
        QCOMPARE(beeps, 1);
        QVERIFY(!box->Timer1()->isActive());
        QVERIFY(box->DotTimer()->isActive());
        QCOMPARE(at(*box, place), background);

        const int widths[] = {5, 4, 3, 5, 4, 3};
        const int colours[] = {0, 8, 12, 0, 8, 12};
        for (int i = 0; i < 6; ++i) {
            box->DotTimer_Timer();
            QCOMPARE(box->lastDot().penWidth, widths[i]);
            QCOMPARE(box->lastDot().colorNumber, colours[i]);
            QCOMPARE(box->lastDot().at, place);
            QCOMPARE(at(*box, place), about::QBColor(colours[i]));
        }
        QCOMPARE(about::QBColor(8), QColor(128, 128, 128));
        QCOMPARE(about::QBColor(12), QColor(255, 0, 0));

        // A click on the drawing area beeps, clears and starts the cycle over.
        QTest::mouseClick(box->Picture1(), Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(beeps, 2);
        QCOMPARE(at(*box, place), background);
        box->DotTimer_Timer();
        QCOMPARE(box->lastDot().penWidth, 5);
        QCOMPARE(box->lastDot().colorNumber, 0);

        // So does one on the window itself, below the drawing area; the other areas do nothing.
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() - 2));
        QCOMPARE(beeps, 3);
        QTest::mouseClick(box->Picture2(), Qt::LeftButton);
        QTest::mouseClick(box->lblVersion(), Qt::LeftButton);
        QCOMPARE(beeps, 3);

        box->hide();
        QVERIFY(!box->DotTimer()->isActive());
    }

    void enterAndEscCloseTheBox_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("Enter") << int(Qt::Key_Return);
        QTest::newRow("Esc") << int(Qt::Key_Escape);
    }
    void enterAndEscCloseTheBox()
    {
        QFETCH(int, key);
        QPointer<frmAbout> box = openAbout();
        box->AnimateDots();
        QSignalSpy clicked(box->cmdOK(), &QPushButton::clicked);
        QWidget* focus = box->focusWidget() ? box->focusWidget() : box.data();
        QTest::keyClick(focus, static_cast<Qt::Key>(key));
        QCOMPARE(clicked.size(), 1);
        QVERIFY(!box->isVisible());
        QVERIFY(!box->DotTimer()->isActive());
        QTRY_VERIFY(box.isNull());

        // Opening it again loads a new box that waits its five seconds again.
        QPointer<frmAbout> again = openAbout();
        QVERIFY(again->Timer1()->isActive());
        QVERIFY(!again->DotTimer()->isActive());
    }
};

QTEST_MAIN(AboutTest)
#include "test_about.moc"
