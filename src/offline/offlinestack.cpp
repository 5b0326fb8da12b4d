#include "offline/offlinestack.h"

#include "playback/entryplayer.h"
#include "audio/manualoutput.h"
#include "playback/mediaplayer.h"
#include "engine/midi/midiengine.h"
#include "engine/routingengine.h"
#include "engine/sample/sampleengine.h"

#include <QCoreApplication>

namespace offline {

using playback::GetNextEntry;

namespace {
// Rounds of commands and replies between the UI and the worker within one block: a load
// is opened, its plan sent and rendered, the list's next entry handed over.
constexpr int kSettleRounds = 4;
}

OfflineStack::OfflineStack(engine::MediaEngine* video, int blockMs) : m_blockMs(blockMs)
{
    engine::SampleEngine::Options options;
    options.output = [this] {
        auto out = std::make_unique<audio::ManualOutput>();
        m_output = out.get();
        return out;
    };
    m_sample = new engine::SampleEngine(options);
    m_player = std::make_unique<playback::MediaPlayer>(new engine::MidiEngine(new engine::RoutingEngine(m_sample, video)));
    m_playback = new playback::EntryPlayer(m_player->control(), m_player.get());
    m_playback->setNextEntrySource([this] { return GetNextEntry(list, m_cursor); });
    m_playback->setNextEntryPeek([this](int ahead) { return playback::PeekEntryAhead(list, m_cursor, ahead); });
}

OfflineStack::~OfflineStack() = default;

engine::MediaEngine& OfflineStack::engine() const
{
    return *m_player->control()->engine();
}

void OfflineStack::playList(int row)
{
    list.selectRow(row);
    m_cursor = row;  // before the start, which may hand over the row after it at once
    const QStringList t = list.rowTexts(row);
    m_playback->PlayPosition(t.value(0), t.value(1), t.value(2), t.value(3), t.value(4), false, list.rowPractice(row),
                             t.value(playback::kTextCell));
}

bool OfflineStack::settle()
{
    // Only posted events: the real-time timers never fire here, their handlers are driven
    // by the blocks instead, so nothing depends on how fast this machine is.
    for (int i = 0; i < kSettleRounds; ++i) {
        QCoreApplication::sendPostedEvents();
        if (!m_sample->renderAhead()) return false;
    }
    QCoreApplication::sendPostedEvents();
    return true;
}

bool OfflineStack::step()
{
    if (!settle()) return false;
    const int rate = m_output->sampleRate();
    if (rates.empty() || rates.back().sampleRate != rate) rates.push_back({frames(), rate});
    const qint64 n = qint64(rate) * m_blockMs / 1000;
    recording.resize(recording.size() + std::size_t(n) * 2);
    m_output->pull(recording.data() + recording.size() - std::size_t(n) * 2, n);
    // The engine's heard-timer and entry playback's ticks, as each would have fired by now.
    m_sample->pollHeard();
    for (const engine::SampleEngine::Heard& r : m_sample->knownRuns())
        if (runs.empty() || r.at > runs.back().at) runs.push_back(r);
    QCoreApplication::sendPostedEvents();
    if (m_playback->inPlay()) m_playback->tick();
    if (!settle()) return false;
    seen.push_back({frames(), list.selections, m_cursor, engine().position(), engine().state() == engine::PlayState::Playing});
    return true;
}

} // namespace offline
