#include "windows/beatmenu.h"

#include "beats/beatsource.h"
#include "waveform/waveformview.h"

#include <QActionGroup>
#include <QToolTip>

namespace windows {
namespace {
// A tapped tempo is taken once three intervals agree enough to be heard as one.
constexpr int kTapsToTake = 4;
} // namespace

BeatMenu::BeatMenu(waveform::WaveformView* view, QAction* snap, std::function<double()> barHere,
                   std::function<double()> rate, QWidget* keysOn)
    : QMenu(QStringLiteral("&Beats"), keysOn), m_view(view), m_barHere(std::move(barHere)), m_rate(std::move(rate))
{
    setObjectName(QStringLiteral("MenuBeats"));
    m_clock.start();
    addAction(snap);
    addSeparator();
    auto fix = [this](const QString& caption, QKeySequence key, const QString& tip, auto run) {
        QAction* a = addAction(caption);
        a->setShortcut(key);
        a->setStatusTip(tip);
        a->setToolTip(tip);
        connect(a, &QAction::triggered, this, run);
        m_fixes << a;
        return a;
    };
    fix(QStringLiteral("Ba&r Starts Here"), QKeySequence(Qt::CTRL | Qt::Key_D),
        QStringLiteral("A bar begins on the beat nearest the position"), [this] {
            const double at = m_barHere();
            if (at >= 0) change([at](beats::GridFix& f) { return f.downbeat = at, true; });
        });
    fix(QStringLiteral("&Halve the Tempo"), {}, QStringLiteral("Every other beat only"),
        [this] { change([](beats::GridFix& f) { return f.scaleTempo(-1); }); });
    fix(QStringLiteral("&Double the Tempo"), {}, QStringLiteral("A beat between every two"),
        [this] { change([](beats::GridFix& f) { return f.scaleTempo(1); }); });
    fix(QStringLiteral("&Tap the Tempo"), QKeySequence(Qt::CTRL | Qt::Key_T),
        QStringLiteral("Press in time with the beat, four times or more; bars go through the first downbeat"),
        [this] { tap(); });
    QMenu* meters = addMenu(QStringLiteral("Beats per &Bar"));
    m_fixes << meters->menuAction();
    auto* group = new QActionGroup(this);
    group->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (int m = beats::GridFix::kMinMeter; m <= beats::GridFix::kMaxMeter; ++m) {
        QAction* a = meters->addAction(QStringLiteral("&%1").arg(m));
        a->setCheckable(true);
        group->addAction(a);
        connect(a, &QAction::triggered, this, [this, m] { change([m](beats::GridFix& f) { return f.meter = m, true; }); });
        m_meters[m] = a;
    }
    addSeparator();
    fix(QStringLiteral("&Forget the Corrections"), {}, QStringLiteral("The beats as they were found"),
        [this] { change([](beats::GridFix& f) { return f = {}, true; }); });
    for (QAction* a : actions()) keysOn->addAction(a);
    connect(m_view->beats(), &beats::BeatSource::changed, this, &BeatMenu::refresh);
    connect(this, &QMenu::aboutToShow, this, &BeatMenu::refresh);
    refresh();
}

void BeatMenu::change(const std::function<bool(beats::GridFix&)>& edit)
{
    beats::BeatSource* source = m_view->beats();
    beats::GridFix f = source->fix();
    if (source->file().isEmpty() || !edit(f)) return;
    source->setFix(f);
}

void BeatMenu::tap()
{
    const double rate = m_rate ? m_rate() : 1.0;
    const double heard = m_taps.tap(m_clock.nsecsElapsed() / 1e9);
    const double bpm = heard / (rate > 0 ? rate : 1.0);
    QString said = tr("Tap %1").arg(m_taps.taps());
    if (m_taps.taps() >= kTapsToTake && bpm > 0) {
        change([bpm](beats::GridFix& f) { return f.tappedBpm = bpm, f.octaves = 0, true; });
        said = tr("%1 beats a minute").arg(bpm, 0, 'f', 1);
    }
    QToolTip::showText(m_view->mapToGlobal(QPoint(m_view->width() / 2, 0)), said, m_view);
}

void BeatMenu::refresh()
{
    const beats::BeatSource* source = m_view->beats();
    const bool known = !source->file().isEmpty();
    for (QAction* a : std::as_const(m_fixes)) a->setEnabled(known);
    const int meter = source->fix().meter ? source->fix().meter : source->grid().meter;
    for (int m = beats::GridFix::kMinMeter; m <= beats::GridFix::kMaxMeter; ++m) m_meters[m]->setChecked(m == meter);
}

} // namespace windows
