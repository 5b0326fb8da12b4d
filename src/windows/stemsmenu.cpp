#include "windows/stemsmenu.h"

#include "app/numbertext.h"
#include "playback/livestems.h"

namespace windows {

StemsMenu::StemsMenu(playback::LiveStems* stems, QWidget* parent)
    : QMenu(QStringLiteral("S&tems"), parent), m_stems(stems)
{
    setObjectName(QStringLiteral("MenuStems"));
    connect(this, &QMenu::aboutToShow, this, &StemsMenu::refresh);
    refresh();
}

void StemsMenu::refresh()
{
    clear();
    using playback::StemStep;
    const StemSet set = m_stems->current();
    for (int i = 0; i < set.stems.size(); ++i) {
        const Stem& s = set.stems[i];
        QString state = numtext::format(s.levelDb) + QStringLiteral(" dB");
        if (s.mute) state += QStringLiteral(", muted");
        if (s.solo) state += QStringLiteral(", solo");
        QMenu* m = addMenu(QStringLiteral("&%1 %2 (%3)").arg(i + 1).arg(playback::stemCaption(s), state));
        m->setAccessibleName(QStringLiteral("Stem %1").arg(playback::stemCaption(s)));
        struct Item { const char* caption; StemStep step; bool checked; bool checkable; };
        const Item items[] = {{"&Mute", StemStep::Mute, s.mute, true},
                              {"&Solo", StemStep::Solo, s.solo, true},
                              {"Level &Up 3 dB", StemStep::LevelUp, false, false},
                              {"Level &Down 3 dB", StemStep::LevelDown, false, false},
                              {"Level &0 dB", StemStep::LevelZero, false, false}};
        for (const Item& it : items) {
            QAction* a = m->addAction(QString::fromLatin1(it.caption));
            a->setCheckable(it.checkable);
            a->setChecked(it.checked);
            connect(a, &QAction::triggered, m_stems, [this, i, step = it.step] { m_stems->apply(i, step); });
        }
    }
    if (!set.stems.isEmpty()) addSeparator();
    QAction* find = addAction(QStringLiteral("&Find Stems Beside the File"));
    find->setToolTip(QStringLiteral("Play the stems named after the file (song.bass.wav beside song.wav, or a folder song/)"));
    connect(find, &QAction::triggered, m_stems, [this] { m_stems->findBeside(); });
    QAction* none = addAction(QStringLiteral("&No Stems (the File Itself)"));
    none->setEnabled(!set.stems.isEmpty());
    connect(none, &QAction::triggered, m_stems, [this] { m_stems->clear(); });
}

} // namespace windows
