#include "playback/liveloopkeys.h"

#include "playback/entryplayer.h"
#include "playback/listplay.h"
#include "playback/mediaplayer.h"
#include "playback/enginecontrol.h"

#include "playback/snapsetting.h"

#include <QAction>
#include <QGuiApplication>

#include <cmath>

namespace playback {
namespace {

constexpr int kBarCounts[] = {1, 2, 4, 8};
// The same keys with Alt held: they leave the positions off the beats.
QList<QKeySequence> withBypass(const QList<QKeySequence>& keys)
{
    QList<QKeySequence> all = keys;
    for (const QKeySequence& k : keys) all << QKeySequence(k[0].toCombined() | Qt::ALT);
    return all;
}

} // namespace

LiveLoopKeys::LiveLoopKeys(EntryPlayer* playback, EngineControl* media, QObject* parent)
    : QObject(parent), m_playback(playback), m_media(media)
{
    auto key = [this](const QString& caption, LiveKey k, bool coarse, const QList<QKeySequence>& keys) {
        m_byKey[int(k)][coarse] = add(caption, withBypass(keys), [this, k, coarse] { press(k, coarse); });
    };
    const QString fine = QString::number(live::kNudge * 1000);
    const QString big = QString::number(live::kCoarseNudge * 1000);
    key(QStringLiteral("Start &Here"), LiveKey::StartHere, false, {QKeySequence(Qt::CTRL | Qt::Key_BracketLeft)});
    key(QStringLiteral("Stop H&ere"), LiveKey::StopHere, false, {QKeySequence(Qt::CTRL | Qt::Key_BracketRight)});
    m_actions << nullptr;
    for (const bool coarse : {false, true}) {
        const QString ms = coarse ? big : fine;
        const Qt::KeyboardModifiers mod = coarse ? Qt::ControlModifier | Qt::ShiftModifier : Qt::ControlModifier;
        key(QStringLiteral("Start %1 ms Earlier").arg(ms), LiveKey::StartEarlier, coarse, {QKeySequence(mod | Qt::Key_Left)});
        key(QStringLiteral("Start %1 ms Later").arg(ms), LiveKey::StartLater, coarse, {QKeySequence(mod | Qt::Key_Right)});
        key(QStringLiteral("Stop %1 ms Earlier").arg(ms), LiveKey::StopEarlier, coarse, {QKeySequence(mod | Qt::Key_Down)});
        key(QStringLiteral("Stop %1 ms Later").arg(ms), LiveKey::StopLater, coarse, {QKeySequence(mod | Qt::Key_Up)});
    }
    m_actions << nullptr;
    // Whole bars from the one heard, ready to drill; keys that say how many.
    for (int i = 0; i < 4; ++i) {
        const int n = kBarCounts[i];
        m_loopBars[i] = add(n == 1 ? QStringLiteral("Loop &1 Bar from Here") : QStringLiteral("Loop &%1 Bars from Here").arg(n),
                            {QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_0 + n))}, [this, n] { press(LiveKey::LoopBars, false, n); });
        m_loopBars[i]->setStatusTip(QStringLiteral("Needs the file's beats; none are known until they are found"));
    }
    m_snap = snapToBeats();
    m_actions << m_snap << nullptr;
    const QString pct = QString::number(live::kRateStep * 100);
    key(QStringLiteral("&Faster (Rate +%1 %)").arg(pct), LiveKey::RateUp, false,
        {QKeySequence(Qt::CTRL | Qt::Key_Equal), QKeySequence(Qt::CTRL | Qt::Key_Plus)});
    key(QStringLiteral("&Slower (Rate -%1 %)").arg(pct), LiveKey::RateDown, false,
        {QKeySequence(Qt::CTRL | Qt::Key_Minus)});
    m_actions << nullptr;
    m_playPause = add(QStringLiteral("&Play/Pause"), {QKeySequence(Qt::CTRL | Qt::Key_Space)},
                      [this] { m_playback->togglePause(); });
    // Drilling a list line by line: back, on, or this line once more.
    m_actions << nullptr;
    add(QStringLiteral("P&revious Line"), {QKeySequence(Qt::CTRL | Qt::Key_PageUp)}, [this] {
        if (m_lineStep) m_lineStep(-1);
    });
    add(QStringLiteral("&Next Line"), {QKeySequence(Qt::CTRL | Qt::Key_PageDown)}, [this] {
        if (m_lineStep) m_lineStep(1);
    });
    add(QStringLiteral("Repeat Line &Once More"), {QKeySequence(Qt::CTRL | Qt::Key_R)}, [this] { m_playback->repeatOnce(); });
    // A click on the file's beats, switched for what plays now (the entry keeps its own).
    m_actions << nullptr;
    add(QStringLiteral("&Metronome On/Off"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M)},
        [this] { m_media->engine()->setMetronome(!m_media->engine()->metronome()); });
}

QAction* LiveLoopKeys::add(const QString& caption, const QList<QKeySequence>& keys, std::function<void()> run)
{
    auto* a = new QAction(caption, this);
    a->setShortcuts(keys);
    connect(a, &QAction::triggered, this, [this, run = std::move(run)] {
        if (!m_accepting || m_accepting()) run();
    });
    m_actions << a;
    return a;
}

QAction* LiveLoopKeys::loopBars(int bars) const
{
    for (int i = 0; i < 4; ++i)
        if (kBarCounts[i] == bars) return m_loopBars[i];
    return nullptr;
}

bool LiveLoopKeys::snapping() const { return m_snap->isChecked(); }

const beats::BeatGrid* LiveLoopKeys::snapGrid(const QString& file) const
{
    // The key press being handled still has its modifiers here.
    if (!m_grids || QGuiApplication::keyboardModifiers() & Qt::AltModifier) return nullptr;
    return m_grids(file);
}

QAction* LiveLoopKeys::action(LiveKey key, bool coarse) const
{
    const bool hasCoarse = key != LiveKey::StartHere && key != LiveKey::StopHere && key != LiveKey::RateDown &&
                           key != LiveKey::RateUp;
    return m_byKey[int(key)][coarse && hasCoarse];
}

bool LiveLoopKeys::press(LiveKey key, bool coarse, int bars)
{
    LiveChange c;
    c.key = key;
    LiveNow now;
    const bool playing = m_playback->inPlay();
    if (playing) {
        c.row = playingRow();
        c.file = m_playback->current().file;
        c.was = {m_playback->current().start, m_playback->current().stop, m_playback->current().rate};
        c.wholeFile = m_playback->current().wholeFile;
        // A rate key starts from the rate heard: the rate box may have changed it since the
        // entry began.
        now = {c.was, m_media->CurrentPosition(), m_media->Duration()};
        if (c.movesRate() && m_media->Rate() > 0) now.stretch.rate = m_media->Rate();
    } else if (!stoppedTarget(c, now)) {
        return false;
    }
    // Bars are counted on the grid whether snapping is on or not.
    now.grid = key == LiveKey::LoopBars ? (m_grids ? m_grids(c.file) : nullptr) : snapping() ? snapGrid(c.file) : nullptr;
    now.bars = bars;
    c.edit = liveEdit(now, key, coarse);
    if (!c.edit.changed) return false;
    // Stopped, the entry last played takes the change only where it is the row's, so that
    // Play/Pause plays what the row says.
    c.heard = playing || (c.row == playingRow() && c.file == m_playback->current().file &&
                          rowPlays(m_list()->rowTexts(c.row), m_playback->current().file, m_playback->current().start,
                                   m_playback->current().stop, m_playback->current().wholeFile));
    // The row first: a stop put behind what is heard may end the entry's last pass, and
    // the list then moves on to another row.
    emit changed(c);
    if (!c.heard) return true;
    if (c.movesRate()) m_playback->changeRate(c.edit.stretch.rate);
    else m_playback->changeStretch(c.edit.stretch.start, c.edit.stretch.stop);
    return true;
}

bool LiveLoopKeys::stoppedTarget(LiveChange& c, LiveNow& now) const
{
    EntryList* list = m_list ? m_list() : nullptr;
    if (!list) return false;
    c.row = stoppedKeyRow(list->selectedRow(), playingRow());
    if (c.row <= 0 || c.row > list->rowCount()) return false;
    const QStringList texts = list->rowTexts(c.row);
    // Positions and the length are the loaded file's, not another row's.
    const bool loaded = texts.value(0) == m_media->FileName();
    const auto stretch = rowStretch(texts, loaded ? m_media->Duration() : 0.0);
    if (!stretch) return false;
    c.file = texts.value(0);
    c.was = *stretch;
    c.wholeFile = rowIsWholeFile(texts);
    now = {c.was, loaded ? m_media->CurrentPosition() : std::nan(""), loaded ? m_media->Duration() : 0.0};
    return true;
}

void LiveLoopKeys::rowEdited(int row, const QStringList& before, const QStringList& after,
                             const PracticeSettings& practice)
{
    if (row <= 0 || row != playingRow()) return;
    const RowEdit e = followEdit(before, after, m_playback->current().file,
                                 {m_playback->current().start, m_playback->current().stop, m_playback->current().rate},
                                 m_playback->current().wholeFile);
    if (!e.follows) return;
    if (e.moves) m_playback->changeStretch(e.stretch.start, e.stretch.stop);
    if (e.stretch.rate != m_playback->current().rate) m_playback->changeRate(e.stretch.rate);
    m_playback->changePractice(practice);
}

} // namespace playback
