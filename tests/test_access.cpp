// What a screen reader, a keyboard user and a dark theme get from the windows: every control
// named as a person says it, the keyboard never lost, glyphs drawn in the palette's colours,
// and the user's own style sheet kept. With VAMPLET_ACCESSIBLE_TREE set, it prints the
// accessible tree of the player, the panel and the editor.
#include "services/look.h"
#include "services/messages.h"
#include "storage/playliststore.h"
#include "support/fakeengine.h"
#include "support/sandbox.h"
#include "support/testkit.h"
#include "windows/entrygrid.h"
#include "windows/forms.h"
#include "windows/frmedit.h"
#include "windows/frmplayer.h"
#include "windows/frmplaylist.h"

#include <QAccessible>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QtTest>

namespace {

// Walks the shown tree below `a` (a table's cells are checked on their own).
void walk(QAccessibleInterface* a, int depth, const std::function<void(QAccessibleInterface*, int)>& visit)
{
    if (!a || a->state().invisible) return;
    visit(a, depth);
    for (int i = 0; !a->tableInterface() && i < a->childCount(); ++i) walk(a->child(i), depth + 1, visit);
}

// The lightest grey of a picture's drawn pixels.
int lightest(const QImage& image)
{
    int most = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 128) most = std::max(most, qGray(image.pixel(x, y)));
    return most;
}

} // namespace

class AccessTest : public QObject {
    Q_OBJECT
    testkit::Sandbox* box = nullptr;

private slots:
    void initTestCase() { testkit::useFakeEngines(); }
    void init() { box = new testkit::Sandbox; }
    void cleanup()
    {
        forms::resetAll();
        delete box;
    }

    void everyControlIsNamedAsAPersonSaysIt()
    {
        storage::AddNewPlayList("Drills");
        storage::SavePlayList("Drills", {{box->a, "0.5", "2", "1", "3"}});
        forms::frmEdit()->LoadAdd(QString(), QString(), QString(), QString(), QString(), forms::frmPlayList());
        const QList<QWidget*> windows{forms::frmPlayer(), forms::frmPlayList(), forms::frmEdit()};
        const bool dump = qEnvironmentVariableIsSet("VAMPLET_ACCESSIBLE_TREE");
        for (QWidget* window : windows) {
            window->show();
            QStringList frames, names;
            for (const QGroupBox* g : window->findChildren<QGroupBox*>()) frames << g->title();
            walk(QAccessible::queryAccessibleInterface(window), 0, [&](QAccessibleInterface* a, int depth) {
                const QString name = a->text(QAccessible::Name);
                if (dump)
                    std::printf("%s%s \"%s\"\n", QString(depth * 2, u' ').toUtf8().constData(),
                                qAccessibleRoleString(a->role()), name.toUtf8().constData());
                const QWidget* w = qobject_cast<QWidget*>(a->object());
                if (!w || w == window || (w->focusPolicy() == Qt::NoFocus && a->role() != QAccessible::PushButton))
                    return;
                const QString what = window->objectName() + ": " + a->object()->metaObject()->className();
                QVERIFY2(!name.trimmed().isEmpty(), qPrintable(what + " has no name"));
                QVERIFY2(!frames.contains(name), qPrintable(what + " is named after its frame: " + name));
                QVERIFY2(!names.contains(name), qPrintable(what + " shares its name: " + name));
                names << name;
            });
        }
        QCOMPARE(QAccessible::queryAccessibleInterface(forms::frmPlayList())->role(), QAccessible::Window);
        // A grid cell says its row and column.
        QAccessibleTableInterface* table =
            QAccessible::queryAccessibleInterface(forms::frmPlayList()->lstSelector())->tableInterface();
        QVERIFY(table);
        QCOMPARE(table->cellAt(0, 1)->text(QAccessible::Name), QString("1, Start: 0.5"));
        QCOMPARE(table->cellAt(0, 5)->text(QAccessible::Name), QString("1, Pause: off"));
    }

    void theKeyboardIsNeverLost()
    {
        storage::AddNewPlayList("Drills");
        storage::SavePlayList("Drills", {{box->a, "0", "1", "1", "1"}, {box->b, "0", "1", "1", "1"}});
        panel::frmPlayList* p = forms::frmPlayList();
        p->show();
        QVERIFY(QTest::qWaitForWindowActive(p));
        // Tabbed into, the grid has a row for the entry commands.
        p->lstSelector()->setFocus(Qt::TabFocusReason);
        QCOMPARE(p->lstSelector()->selectedRow(), 1);
        // The editor closed by Esc gives the keyboard back to the grid.
        forms::frmEdit()->LoadAdd(QString(), QString(), QString(), QString(), QString(), p);
        QVERIFY(QTest::qWaitForWindowActive(forms::frmEdit()));
        QTest::keyClick(forms::frmEdit(), Qt::Key_Escape);
        QTRY_COMPARE(QApplication::focusWidget(), p->lstSelector());
        // A new playlist named (Enter in its box): the keyboard is the panel's, even where the
        // window manager handed the activation to the player meanwhile.
        services::setInputAnswer([](const services::InputRequest&) {
            forms::frmPlayer()->show();
            forms::frmPlayer()->activateWindow();
            return QStringLiteral("Scales");
        });
        p->btnPlO_Click(0);
        services::setInputAnswer(nullptr);
        QTRY_COMPARE(QApplication::activeWindow(), p);
    }

    void darkPalettesShowTheGlyphs()
    {
        QPalette dark(QColor(30, 30, 30));
        for (const auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
            dark.setColor(role, QColor(235, 235, 235));
        QApplication::setPalette(dark);
        panel::frmPlayList* p = forms::frmPlayList();
        QApplication::setPalette(QPalette());
        for (int picture : {1, 2}) QVERIFY2(lightest(p->imgEnablerPicture(picture).toImage()) > 200, "fold glyph dark");
        for (QPushButton* b : forms::frmPlayer()->findChildren<QPushButton*>())
            if (!b->icon().isNull()) QVERIFY2(lightest(b->icon().pixmap(16).toImage()) > 200, "transport glyph dark");
    }

    void theSlidersTicksShowInEveryPalette()
    {
        QSlider* slider = forms::frmEdit()->sldPos();
        for (const QColor window : {QColor(30, 30, 30), QColor(239, 239, 239)}) {
            const QPalette palette(window);
            slider->setPalette(palette);
            const QImage shot = slider->grab().toImage();
            // The ticks' strip, under the groove and the handle: its strongest contrast.
            int contrast = 0;
            for (int y = shot.height() - 3; y < shot.height(); ++y)
                for (int x = 0; x < shot.width(); ++x)
                    contrast = std::max(contrast, std::abs(qGray(shot.pixel(x, y)) - qGray(window.rgb())));
            QVERIFY2(contrast > 80, qPrintable(window.name()));
        }
        slider->setPalette(QPalette());
    }

    void theUsersStyleSheetWins()
    {
        QTemporaryFile sheet;
        QVERIFY(sheet.open());
        sheet.write("QLineEdit { color: rgb(200, 10, 10); }");
        sheet.close();
        qApp->setStyleSheet("file:///" + sheet.fileName());  // as -stylesheet gives it
        services::applyLook(*qApp);
        QLineEdit edit;
        edit.ensurePolished();
        QCOMPARE(edit.palette().color(QPalette::Text), QColor(200, 10, 10));
        qApp->setStyleSheet(QString());
        // A platform theme sets the desktop's font once the event loop runs: the layout's stays.
        QApplication::setFont(QFont(QApplication::font().family(), 14));
        QCOMPARE(QApplication::font().pointSizeF(), 8.25);
        // Its fonts per class, which a style change takes up again, stay out of the windows too.
        for (const char* cls : {"QMenuBar", "QLabel", "QPushButton"})
            QApplication::setFont(QFont(QApplication::font().family(), 14), cls);
        QMenuBar bar;
        QLabel label;
        QPushButton button;
        for (QWidget* w : std::initializer_list<QWidget*>{&bar, &label, &button}) {
            w->ensurePolished();
            QCOMPARE(w->font().pointSizeF(), 8.25);
        }
    }
};

QTEST_MAIN(AccessTest)
#include "test_access.moc"
