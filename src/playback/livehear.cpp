#include "playback/livehear.h"

#include "playback/enginecontrol.h"
#include "playback/entryplayer.h"
#include "playback/listplay.h"
#include "playback/liveloop.h"

#include "engine/mediaengine.h"

#include <QAction>
#include <QActionGroup>
#include <QKeySequence>

#include <algorithm>

namespace playback {

namespace {
constexpr double kGainStepDb = 3;
}

HearSettings steppedHear(HearSettings h, HearStep step)
{
    using C = HearSettings::Centre;
    using Ch = HearSettings::Channels;
    auto band = [&h](int preset) {
        h.lowCut = preset < 0 ? 0 : hear::kPresets[preset].lowCut;
        h.highCut = preset < 0 ? 0 : hear::kPresets[preset].highCut;
    };
    switch (step) {
    case HearStep::BandOff: band(-1); break;
    case HearStep::Bass: band(0); break;
    case HearStep::Voice: band(1); break;
    case HearStep::Treble: band(2); break;
    case HearStep::Normal: h.centre = C::Normal; break;
    case HearStep::Cancel:
        h.centre = C::Cancel;
        if (h.channels == Ch::Mono) h.channels = Ch::Both;
        break;
    case HearStep::Keep: h.centre = C::Keep; break;
    case HearStep::Both: h.channels = Ch::Both; break;
    case HearStep::Left: h.channels = Ch::Left; break;
    case HearStep::Right: h.channels = Ch::Right; break;
    case HearStep::Mono:
        h.channels = Ch::Mono;
        if (h.centre == C::Cancel) h.centre = C::Normal;
        break;
    case HearStep::GainUp: h.gainDb = std::min(hear::kMaxGainDb, h.gainDb + kGainStepDb); break;
    case HearStep::GainDown: h.gainDb = std::max(hear::kMinGainDb, h.gainDb - kGainStepDb); break;
    case HearStep::GainOff: h.gainDb = 0; break;
    }
    return h;
}

LiveHear::LiveHear(EntryPlayer* playback, EngineControl* media, QObject* parent)
    : QObject(parent), m_playback(playback), m_media(media)
{
    struct Item { const char* caption; HearStep step; QKeySequence key; bool checkable; };
    // Ctrl+Alt keys: Ctrl alone and Ctrl+Shift belong to the loop keys.
    const QList<QList<Item>> groups = {
        {{"Whole &Band", HearStep::BandOff, Qt::CTRL | Qt::ALT | Qt::Key_0, true},
         {"B&ass (40-300 Hz)", HearStep::Bass, Qt::CTRL | Qt::ALT | Qt::Key_1, true},
         {"&Voice (200-4000 Hz)", HearStep::Voice, Qt::CTRL | Qt::ALT | Qt::Key_2, true},
         {"&Treble (2000 Hz and up)", HearStep::Treble, Qt::CTRL | Qt::ALT | Qt::Key_3, true}},
        {{"Centre &Normal", HearStep::Normal, Qt::CTRL | Qt::ALT | Qt::Key_N, true},
         {"&Cancel Centre", HearStep::Cancel, Qt::CTRL | Qt::ALT | Qt::Key_C, true},
         {"&Keep Centre Only", HearStep::Keep, Qt::CTRL | Qt::ALT | Qt::Key_K, true}},
        {{"B&oth Channels", HearStep::Both, Qt::CTRL | Qt::ALT | Qt::Key_B, true},
         {"&Left Only", HearStep::Left, Qt::CTRL | Qt::ALT | Qt::Key_L, true},
         {"&Right Only", HearStep::Right, Qt::CTRL | Qt::ALT | Qt::Key_R, true},
         {"&Mono", HearStep::Mono, Qt::CTRL | Qt::ALT | Qt::Key_M, true}},
        {{"&Gain Up 3 dB", HearStep::GainUp, Qt::CTRL | Qt::ALT | Qt::Key_Equal, false},
         {"Gain &Down 3 dB", HearStep::GainDown, Qt::CTRL | Qt::ALT | Qt::Key_Minus, false},
         {"Gain &Off", HearStep::GainOff, QKeySequence(), false}}};
    for (const QList<Item>& g : groups) {
        if (!m_actions.isEmpty()) m_actions << nullptr;
        auto* group = new QActionGroup(this);
        group->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);  // a free band checks none
        for (const Item& i : g) {
            auto* a = new QAction(QString::fromLatin1(i.caption), this);
            a->setShortcut(i.key);
            if (i.checkable) {
                a->setCheckable(true);
                group->addAction(a);
                m_checkable << std::pair{a, i.step};
            }
            connect(a, &QAction::triggered, this, [this, step = i.step] {
                if (!m_accepting || m_accepting()) apply(step);
                else sync();
            });
            m_actions << a;
        }
    }
    sync();
}

HearSettings LiveHear::current() const
{
    return m_playback->inPlay() ? m_playback->current().practice.hear : m_idle;
}

void LiveHear::apply(HearStep step)
{
    const HearSettings h = steppedHear(current(), step);
    if (!m_playback->inPlay()) {
        m_idle = h;
        m_media->engine()->setHear(h);
        sync();
        return;
    }
    const EntryStretch& e = m_playback->current();
    PracticeSettings practice = e.practice;
    practice.hear = h;
    m_playback->changePractice(practice);
    sync();
    const int row = m_playingRow ? m_playingRow() : 0;
    if (changeRowPractice(m_list ? m_list() : nullptr, row, e.file, e.start, e.stop, e.wholeFile,
                          [&](PracticeSettings& kept) { kept.hear = h; }))
        emit rowChanged(row);
}

void LiveHear::sync()
{
    const HearSettings now = current();
    for (const auto& [a, step] : m_checkable) a->setChecked(steppedHear(now, step) == now);
}

} // namespace playback
