// The message box with relabelled buttons, answered through the seam and on the live box.
#include "services/custommsgbox.h"
#include "support/testkit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <algorithm>

using namespace services;

namespace {

// What the live box showed.
struct Seen {
    bool found = false;
    QStringList captions; // left to right
    QString defaultCaption;
    QString pressed;      // the button that closed the box
    QPoint pos;
    QImage icon;
    int width = 0;
    QFont font;
};

// Stands in for the user at the real box: finds it once it is up, notes what it shows and
// clicks the button at `clickAt` (left to right) after `delayMs`; -1 leaves it alone.
class LiveBox : public QObject {
public:
    explicit LiveBox(int clickAt, int delayMs = 0) : m_clickAt(clickAt), m_delayMs(delayMs)
    {
        connect(&m_poll, &QTimer::timeout, this, &LiveBox::look);
        m_poll.start(5);
    }
    Seen seen;

private:
    void look()
    {
        QMessageBox* box = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible()) box = b;
        if (!box) return;
        m_poll.stop();
        QList<QAbstractButton*> buttons = box->buttons();
        std::sort(buttons.begin(), buttons.end(), [box](QAbstractButton* a, QAbstractButton* b) {
            return a->mapTo(box, QPoint()).x() < b->mapTo(box, QPoint()).x();
        });
        seen.found = true;
        for (QAbstractButton* b : buttons) seen.captions << b->text();
        seen.defaultCaption = box->defaultButton() ? box->defaultButton()->text() : QString();
        seen.pos = box->pos();
        seen.width = box->width();
        seen.font = box->font();
        seen.icon = box->iconPixmap().toImage();
        connect(box, &QMessageBox::buttonClicked, this, [this](QAbstractButton* b) { seen.pressed = b->text(); });
        if (m_clickAt >= 0 && m_clickAt < buttons.size()) {
            QAbstractButton* target = buttons[m_clickAt];
            QTimer::singleShot(m_delayMs, target, [target] { target->click(); });
        }
        // Never leave a test hanging on a box nobody closes.
        QTimer::singleShot(10000, box, [box] { box->done(0); });
    }

    QTimer m_poll;
    int m_clickAt;
    int m_delayMs;
};

CustomButton wish(const QString& caption, qint32 style = 0) { return {caption, style, true}; }

CustomMsgBoxParams params(MsgButtons set, const QList<CustomButton>& wishes = {})
{
    CustomMsgBoxParams p;
    p.Prompt = QStringLiteral("Use an existing playlist or a new one?");
    p.Title = QStringLiteral("Import");
    p.Flags = msgFlags(set, MsgIcon::Question);
    if (wishes.size() > 0) p.Button1 = wishes[0];
    if (wishes.size() > 1) p.Button2 = wishes[1];
    if (wishes.size() > 2) p.Button3 = wishes[2];
    return p;
}

// Runs the real box; the user clicks `clickAt` (or nobody does).
int runLive(const CustomMsgBoxParams& p, Seen& seen, int clickAt, int delayMs = 0)
{
    LiveBox user(clickAt, delayMs);
    const int result = CustomMsgBox(p);
    seen = user.seen;
    return result;
}

// The platform's own captions of a set, left to right.
QStringList platformCaptions(MsgButtons set)
{
    Seen seen;
    runLive(params(set), seen, 0);
    return seen.captions;
}

} // namespace

class CustomMsgBoxTest : public QObject {
    Q_OBJECT
private slots:
    void captionsLeftToRightAndResultByPosition_data()
    {
        QTest::addColumn<int>("set");
        QTest::addColumn<int>("clickAt");
        QTest::addColumn<int>("expected");
        QTest::newRow("abort") << int(MsgButtons::AbortRetryIgnore) << 0 << int(vbAbort);
        QTest::newRow("retry") << int(MsgButtons::AbortRetryIgnore) << 1 << int(vbRetry);
        QTest::newRow("ignore") << int(MsgButtons::AbortRetryIgnore) << 2 << int(vbIgnore);
        QTest::newRow("yes") << int(MsgButtons::YesNoCancel) << 0 << int(vbYes);
        QTest::newRow("no") << int(MsgButtons::YesNoCancel) << 1 << int(vbNo);
        QTest::newRow("cancel") << int(MsgButtons::YesNoCancel) << 2 << int(vbCancel);
        QTest::newRow("ok") << int(MsgButtons::OKCancel) << 0 << int(vbOK);
        QTest::newRow("retry of two") << int(MsgButtons::RetryCancel) << 0 << int(vbRetry);
        QTest::newRow("cancel of two") << int(MsgButtons::RetryCancel) << 1 << int(vbCancel);
    }
    void captionsLeftToRightAndResultByPosition()
    {
        QFETCH(int, set);
        QFETCH(int, clickAt);
        QFETCH(int, expected);
        const auto p = params(static_cast<MsgButtons>(set),
                              {wish(" Existing "), wish(" Add New "), wish(" Cancel ")});
        const QStringList all{" Existing ", " Add New ", " Cancel "};
        const int count = int(buttonResults(static_cast<MsgButtons>(set)).size());

        Seen seen;
        QCOMPARE(runLive(p, seen, clickAt), expected);
        QCOMPARE(seen.captions, all.mid(0, count));
        QCOMPARE(seen.pressed, all[clickAt]);
    }

    void slotRules_data()
    {
        QTest::addColumn<int>("set");
        QTest::addColumn<QList<bool>>("use");
        QTest::addColumn<QStringList>("expected"); // empty: the platform's caption stays

        const auto ari = int(MsgButtons::AbortRetryIgnore);
        QTest::newRow("slot 1 only") << ari << QList<bool>{true, false, false} << QStringList{"one", "", ""};
        QTest::newRow("no slot 1, no change") << ari << QList<bool>{false, true, true} << QStringList{"", "", ""};
        QTest::newRow("slots 1 and 3") << ari << QList<bool>{true, false, true} << QStringList{"one", "three", ""};
        QTest::newRow("slots 1 and 3 on two buttons")
            << int(MsgButtons::YesNo) << QList<bool>{true, false, true} << QStringList{"one", "three"};
        QTest::newRow("three slots on two buttons")
            << int(MsgButtons::YesNo) << QList<bool>{true, true, true} << QStringList{"one", "two"};
        QTest::newRow("three slots on one button")
            << int(MsgButtons::OK) << QList<bool>{true, true, true} << QStringList{"one"};
    }
    void slotRules()
    {
        QFETCH(int, set);
        QFETCH(QList<bool>, use);
        QFETCH(QStringList, expected);
        const auto buttons = static_cast<MsgButtons>(set);
        auto p = params(buttons, {wish("one"), wish("two"), wish("three")});
        p.Button1.Use = use[0];
        p.Button2.Use = use[1];
        p.Button3.Use = use[2];

        // The seam hands the captions on, so callers' tests see what the user would.
        {
            testkit::MessageRecorder recorder(vbOK);
            CustomMsgBox(p);
            QCOMPARE(recorder.messages.size(), 1);
            QCOMPARE(recorder.messages[0].captions, expected);
        }

        const QStringList platform = platformCaptions(buttons);
        QStringList shown = expected;
        for (int i = 0; i < shown.size(); ++i)
            if (shown[i].isEmpty()) shown[i] = platform[i];
        Seen seen;
        runLive(p, seen, 0);
        QCOMPARE(seen.captions, shown);
    }

    void seamGetsTheFlagsDecoded()
    {
        testkit::MessageRecorder recorder(vbIgnore);
        CustomMsgBoxParams p = params(MsgButtons::AbortRetryIgnore);
        p.Title.clear();
        p.Flags = msgFlags(MsgButtons::AbortRetryIgnore, MsgIcon::Exclamation, 2);
        QCOMPARE(CustomMsgBox(p), int(vbIgnore));
        const MessageRequest& asked = recorder.messages.at(0);
        QCOMPARE(asked.text, p.Prompt);
        QCOMPARE(asked.title, QStringLiteral("Vamplet"));
        QCOMPARE(asked.buttons, MsgButtons::AbortRetryIgnore);
        QCOMPARE(asked.icon, MsgIcon::Exclamation);
        QCOMPARE(asked.defaultButton, 2);
    }

    void timeOutPressesTheDefaultButton_data()
    {
        QTest::addColumn<qint32>("flags");
        QTest::addColumn<qint32>("thirdStyle");
        QTest::addColumn<qint32>("otherStyles");
        QTest::addColumn<QString>("pressed");
        const qint32 d = kButtonStyleDefault;
        QTest::newRow("first by default") << msgFlags(MsgButtons::AbortRetryIgnore) << 0 << 0 << "one";
        QTest::newRow("second by flags") << msgFlags(MsgButtons::AbortRetryIgnore, MsgIcon::None, 2) << 0 << 0 << "two";
        QTest::newRow("third by style") << msgFlags(MsgButtons::AbortRetryIgnore) << d << 0 << "three";
        QTest::newRow("first of all styled") << msgFlags(MsgButtons::AbortRetryIgnore) << d << d << "one";
    }
    void timeOutPressesTheDefaultButton()
    {
        QFETCH(qint32, flags);
        QFETCH(qint32, thirdStyle);
        QFETCH(qint32, otherStyles);
        QFETCH(QString, pressed);
        auto p = params(MsgButtons::AbortRetryIgnore,
                        {wish("one", otherStyles), wish("two", otherStyles), wish("three", thirdStyle)});
        p.Flags = flags;
        p.TimeOut = 300;

        Seen seen;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(runLive(p, seen, -1), kMsgTimedOut);
        QVERIFY2(clock.elapsed() >= 300, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(seen.defaultCaption, pressed);
        QCOMPARE(seen.pressed, pressed);
    }

    void boxIsWideEnoughForItsTitle()
    {
        const QString title = QStringLiteral("Please Fix this Entry!");
        LiveBox user(0);
        services::MsgBox(QStringLiteral("a\nb"), MsgButtons::OK, MsgIcon::Critical, title);
        QVERIFY(user.seen.found);
        // A title bar holds the title in a bold face beside the icon and three buttons.
        QFont bold = user.seen.font;
        bold.setBold(true);
        const QFontMetrics fm(bold);
        QVERIFY2(user.seen.width >= fm.horizontalAdvance(title) + 4 * fm.height(),
                 qPrintable(QString::number(user.seen.width)));
    }

    void noTimeOutWhenZeroOrNegative_data()
    {
        QTest::addColumn<qint32>("timeOut");
        QTest::newRow("zero") << 0;
        QTest::newRow("negative") << -5;
    }
    void noTimeOutWhenZeroOrNegative()
    {
        QFETCH(qint32, timeOut);
        auto p = params(MsgButtons::YesNo, {wish("Keep"), wish("Drop")});
        Seen seen;
        // A call that timed out first must leave nothing behind for the next one.
        p.TimeOut = 20;
        QCOMPARE(runLive(p, seen, -1), kMsgTimedOut);

        p.TimeOut = timeOut;
        QCOMPARE(runLive(p, seen, 1, 400), int(vbNo));
        QCOMPARE(seen.pressed, QStringLiteral("Drop"));
    }

    void moveToTheGivenPlace()
    {
        Seen unmoved;
        runLive(params(MsgButtons::OK), unmoved, 0);

        auto p = params(MsgButtons::OK);
        p.Move = true;
        p.X = 37;
        p.Y = 41;
        Seen seen;
        runLive(p, seen, 0);
        QCOMPARE(seen.pos, QPoint(37, 41));

        p.X = -1;
        runLive(p, seen, 0);
        QCOMPARE(seen.pos, unmoved.pos);
        p.X = 37;
        p.Y = -1;
        runLive(p, seen, 0);
        QCOMPARE(seen.pos, unmoved.pos);
        p.Y = 41;
        p.Move = false;
        runLive(p, seen, 0);
        QCOMPARE(seen.pos, unmoved.pos);
    }

    void pictureTakesTheIconsPlace()
    {
        QImage picture(40, 40, QImage::Format_RGB32);
        picture.fill(QColor(200, 30, 30));
        auto p = params(MsgButtons::OK);
        p.Picture = QPixmap::fromImage(picture);
        Seen seen;
        runLive(p, seen, 0);
        QCOMPARE(seen.icon.size(), QSize(32, 32));
        QCOMPARE(seen.icon.pixelColor(0, 0), QColor(200, 30, 30));
        QCOMPARE(seen.icon.pixelColor(31, 31), QColor(200, 30, 30));
    }
};

QTEST_MAIN(CustomMsgBoxTest)
#include "test_custommsgbox.moc"
