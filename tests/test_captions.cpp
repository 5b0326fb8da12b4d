// Every window's captions and tool tips as first shown, against tests/golden/captions.txt:
// one table to read for wording. VAMPLET_GOLDEN=write rewrites it from the windows.
#include "storage/playliststore.h"
#include "support/sandbox.h"
#include "windows/forms.h"
#include "windows/frmabout.h"
#include "windows/frmedit.h"
#include "windows/frmplayer.h"
#include "windows/frmplaylist.h"

#include <QAction>
#include <QFile>
#include <QtTest>

namespace {

// A child without a name of its own goes by its class and its place among its like.
QString nameOf(const QObject* o)
{
    if (!o->objectName().isEmpty()) return o->objectName();
    int place = 0;
    for (const QObject* s : o->parent()->children()) {
        if (s == o) break;
        if (s->metaObject() == o->metaObject()) ++place;
    }
    return QString("%1#%2").arg(o->metaObject()->className()).arg(place);
}

void collect(const QObject* o, const QString& path, QStringList& out)
{
    const bool window = o->isWidgetType() && static_cast<const QWidget*>(o)->isWindow();
    for (const char* p : {"windowTitle", "title", "text", "toolTip", "placeholderText"}) {
        // An action's tool tip is its text unless set.
        if ((qstrcmp(p, "windowTitle") == 0 && !window) || (qobject_cast<const QAction*>(o) && qstrcmp(p, "toolTip") == 0))
            continue;
        const QString v = o->property(p).toString();
        if (!v.isEmpty()) out << QString("%1 %2 = %3").arg(path, p, QString(v).replace('\n', "\\n"));
    }
    for (const QObject* c : o->children())
        if (!c->objectName().startsWith("frm")) collect(c, path + '/' + nameOf(c), out);  // other forms are listed on their own
}

} // namespace

class CaptionsTest : public QObject {
    Q_OBJECT
private slots:
    void everyWindowAsInTheTable()
    {
        testkit::useFakeEngines();
        testkit::Sandbox sandbox;
        storage::AddNewPlayList("Drills");
        QStringList shown;
        forms::frmPlayer()->ShowControlPanel();
        forms::frmPlayList()->MnuRightClick_Click(4);  // the editor, adding
        const QList<QWidget*> windows{forms::frmPlayer(), forms::frmPlayList(), forms::frmEdit(), forms::frmAbout()};
        for (QWidget* w : windows) {
            shown << "[" + w->objectName() + "]";
            collect(w, w->objectName(), shown);
        }
        forms::resetAll();

        QFile golden(QFINDTESTDATA("golden/captions.txt"));
        if (qgetenv("VAMPLET_GOLDEN") == "write") {
            QVERIFY(golden.open(QIODevice::WriteOnly | QIODevice::Text));
            golden.write(shown.join('\n').toUtf8() + '\n');
            return;
        }
        QVERIFY2(golden.open(QIODevice::ReadOnly | QIODevice::Text), qPrintable(golden.fileName()));
        const QStringList expected = QString::fromUtf8(golden.readAll()).split('\n', Qt::SkipEmptyParts);
        for (int i = 0; i < std::min(shown.size(), expected.size()); ++i) QCOMPARE(shown[i], expected[i]);
        QCOMPARE(shown.size(), expected.size());
    }
};

QTEST_MAIN(CaptionsTest)
#include "test_captions.moc"
