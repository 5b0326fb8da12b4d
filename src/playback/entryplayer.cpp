#include "playback/entryplayer.h"

#include "app/filecheck.h"
#include "app/numbertext.h"
#include "playback/beatsahead.h"
#include "playback/mediaplayer.h"
#include "services/messages.h"
#include "playback/enginecontrol.h"

#include <QTimer>
#include <cmath>

namespace playback {
namespace {

// A stop written as number text may round a hair above the position the engine reports
// at the file's end; that must still count as reaching it.
bool reached(double position, double stop)
{
    return position >= stop - std::abs(stop) * 1e-12;
}

bool sameSpot(double a, double b) { return std::abs(a - b) < 1e-9; }

} // namespace

EntryPlayer::EntryPlayer(EngineControl* player, QObject* parent)
    : QObject(parent), m_player(player), m_tick(new QTimer(this)), m_beatsAhead(new BeatsAhead(player, this))
{
    m_tick->setInterval(kTickMs);
    m_tick->setTimerType(Qt::PreciseTimer);
    connect(m_tick, &QTimer::timeout, this, &EntryPlayer::tick);
    connect(m_player, &EngineControl::loopWrapped, this, [this] {
        ++m_pendingWraps;
        // Counted at once rather than at the next tick, which may only stand by.
        QMetaObject::invokeMethod(this, [this] {
            if (counted() && m_pendingWraps > 0) passTick();
        }, Qt::QueuedConnection);
    });
    connect(m_player, &EngineControl::loadFailed, this, &EntryPlayer::playerFailed);
    connect(m_player->engine(), &engine::MediaEngine::nextStarted, this, &EntryPlayer::nextHeard);
    connect(m_player, &EngineControl::DurationChange, this, &EntryPlayer::lengthChanged);
    // A held stop or a file's end is acted on as soon as it is heard rather than at the
    // next tick: the list goes on without up to a tick of silence. Queued, so the engine
    // is out of its report before the next entry reaches it.
    connect(m_player, &EngineControl::PlayStateChange, this, [this](engine::PlayState, engine::PlayState newState) {
        if (newState == engine::PlayState::Stopped && inPlay())
            QMetaObject::invokeMethod(this, &EntryPlayer::endHeard, Qt::QueuedConnection);
    });
}

void EntryPlayer::enter(Mode mode)
{
    m_mode = mode;
    if (mode == Mode::Idle) m_tick->stop();
    else m_tick->start();  // a running tick starts its interval over
}

void EntryPlayer::setHandedOver(bool handedOver)
{
    if (!counted()) return;
    m_mode = handedOver ? Mode::CountedHandedOver : Mode::Counted;
}

void EntryPlayer::tick()
{
    switch (m_mode) {
    case Mode::Idle: break;
    case Mode::Endless: loopTick(); break;
    case Mode::Counted:
    case Mode::CountedHandedOver:
    case Mode::CountedGoingBack: passTick(); break;
    }
}

void EntryPlayer::endHeard()
{
    // The same check as the tick's: whatever happened meanwhile decides.
    if (m_player->PlayState() != engine::PlayState::Stopped) return;
    tick();
}

int EntryPlayer::tickInterval(const std::optional<engine::LoopRange>& handed)
{
    // A stop at or before the start is never cut by the engine: the ticks watch for it.
    return !handed || handed->stop > handed->start ? kStandbyMs : kTickMs;
}

void EntryPlayer::setTickPace(const std::optional<engine::LoopRange>& handed)
{
    const int ms = tickInterval(handed);
    if (m_tick->interval() != ms) m_tick->setInterval(ms);  // a running tick restarts with it
}

void EntryPlayer::PlayPosition(const QString& strFileName, const QString& strStart, const QString& strEnd,
                               const QString& strRate, const QString& strLoops, bool ynDoLoop,
                               const PracticeSettings& practice, const QString& text)
{
    start(strFileName, strStart, strEnd, strRate, strLoops, ynDoLoop, practice, text, Start::Fresh);
}

void EntryPlayer::start(const QString& strFileName, const QString& strStart, const QString& strEnd,
                        const QString& strRate, const QString& strLoops, bool ynDoLoop,
                        const PracticeSettings& practice, const QString& text, Start how)
{
    setText(text);
    double loops = 0;
    numtext::assignIfParsed(numtext::parseZeroPrefixed(strLoops), loops);
    numtext::assignIfParsed(numtext::parseZeroPrefixed(strEnd), m_entry.stop);
    numtext::assignIfParsed(numtext::parseZeroPrefixed(strRate), m_entry.rate);
    numtext::assignIfParsed(numtext::parseZeroPrefixed(strStart), m_entry.start);
    m_entry.file = strFileName;
    m_entry.practice = practice;

    if (m_entry.rate == 0) m_entry.rate = 1.0;
    if (loops == 0) loops = 1.0;
    m_entry.loopsLeft = loops;
    m_lastLoops = loops;
    m_lastDoLoop = ynDoLoop;

    const bool afterWrap = how == Start::HandedOver || how == Start::WrappedPass;
    setHandedOver(false);
    m_stopFrom = StopFrom::Entry;
    if (!afterWrap) m_pendingWraps = 0;

    if (m_entry.file.isEmpty()) return;
    if (!app::mediaFileUsable(m_entry.file)) {
        emit fileNotFound(m_entry.file);
        return;
    }

    bool reloaded = false;
    if (m_player->FileName() != m_entry.file) {
        m_player->Stop();
        m_player->setFileName(m_entry.file);
        reloaded = true;
    }

    // After the engine's own wrap the passes go on as it counts them; a whole file played
    // again is the entry's next pass; anything else starts the entry over.
    const bool samePass = how == Start::NextPass || how == Start::WrappedPass;
    m_pass = samePass ? m_pass + 1 : 0;
    m_player->engine()->setPractice(m_entry.practice, afterWrap && !reloaded ? engine::MediaEngine::kGoOn : m_pass);

    const bool stretch = m_entry.start != 0 || m_entry.stop != 0;
    m_entry.wholeFile = !stretch;
    if (stretch) {
        // Right after the engine wrapped this very stretch it already stands at the start:
        // seeking again would only flush what is playing.
        const bool alreadyAtStart =
            afterWrap && !reloaded && sameSpot(m_player->engine()->loop().start, m_entry.start);
        // The range goes to the engine before the seek and the play, so no stale hold
        // point or range applies to the new stretch.
        m_entry.loopsLeft -= 1;
        handOverLoop(ynDoLoop);
        if (!alreadyAtStart) m_player->setCurrentPosition(m_entry.start);
        m_player->setRate(m_entry.rate);
        m_player->Play();
    } else {
        startWhole(ynDoLoop, afterWrap && !reloaded);
    }

    // A file that does not play, or a whole file whose length is unknown, has no stop to
    // watch for: the tick would only spin on it.
    if (m_player->failed()) {
        enter(Mode::Idle);
        if (!reloaded) emit cannotPlay(m_entry.file, m_player->failure());
        return;
    }
    if (!stretch && m_entry.stop <= 0) {
        enter(Mode::Idle);
        return;
    }
    watchStop(ynDoLoop);
}

void EntryPlayer::startWhole(bool loop, bool handedOver)
{
    // Handed over by the engine, the file plays from its start already.
    if (!handedOver) {
        m_player->clearLoop();
        setTickPace(std::nullopt);
        m_player->setCurrentPosition(m_entry.start);
    }
    m_player->setRate(m_entry.rate);
    if (!handedOver) m_player->Open(m_entry.file);
    m_entry.stop = m_player->Duration();
    m_stopFrom = m_entry.stop > 0 ? StopFrom::FileLength : StopFrom::AwaitedLength;
    // The whole file wraps at its end like any stretch, without end or for its passes:
    // no gap between them.
    if (m_entry.stop > 0) handOverLoop(loop);
}

void EntryPlayer::watchStop(bool loop)
{
    if (loop) {
        enter(Mode::Endless);
    } else {
        enter(Mode::Counted);
        findBeatsAhead();
        if (m_stopFrom == StopFrom::Entry && nextDue()) handOverNext();
    }
}

void EntryPlayer::findBeatsAhead()
{
    // At each pass's start: a whole pass, at least, before the hand-over needs them.
    if (!m_peekNext) return;
    const EntryRecord next = m_peekNext(0);
    const bool wanted = next.FileName != m_entry.file && next.Practice.usesBeats() && app::mediaFileUsable(next.FileName);
    if (wanted) m_beatsAhead->setFile(next.FileName);
}

void EntryPlayer::lengthChanged(double seconds)
{
    // A whole file's stop is its length: the engine may count it only after the file
    // opened, more exactly than its headers told.
    if (m_stopFrom == StopFrom::Entry || m_player->FileName() != m_entry.file || seconds == m_entry.stop ||
        seconds <= 0)
        return;
    m_entry.stop = seconds;
    handOverLoop(m_lastDoLoop);
    if (m_stopFrom == StopFrom::AwaitedLength) {
        m_stopFrom = StopFrom::FileLength;
        watchStop(m_lastDoLoop);
    }
}

void EntryPlayer::handOverNext()
{
    if (!m_peekNext || m_mode == Mode::CountedGoingBack) return;  // the output has it already
    // An entry over within what the output holds ahead is rendered whole before it is
    // heard: the one after it goes with it, so that its end is rendered as it must sound.
    double seconds = 0;
    for (int ahead = 0; ahead < kHandOverEntries; ++ahead) {
        const std::optional<engine::NextEntry> n = nextEntry(m_peekNext(ahead), ahead);
        const bool handed = n && m_player->engine()->queueNext(*n);
        if (ahead == 0) setHandedOver(handed);
        if (!handed || n->toEnd || n->loop.wraps > 1 || !(n->loop.stop > n->loop.start)) return;
        seconds += (n->loop.wraps + 1) * (n->loop.stop - n->loop.start) / n->rate;
        if (seconds > kHandOverAheadSeconds) return;
    }
}

std::optional<engine::NextEntry> EntryPlayer::nextEntry(const EntryRecord& next, int after)
{
    if (next.FileName.isEmpty() || !app::mediaFileUsable(next.FileName)) return std::nullopt;
    engine::NextEntry n;
    n.after = after;
    n.path = next.FileName;
    n.start = next.Start;
    n.rate = next.Rate == 0 ? 1.0 : next.Rate;
    const double loops = next.Loops == 0 ? 1.0 : next.Loops;
    n.loop.start = next.Start;
    n.loop.stop = next.Stop;
    n.loop.wraps = loops - 1 > 0 ? static_cast<int>(std::min(std::ceil(loops - 1), 1e9)) : 0;
    n.loop.holdAtStop = true;
    n.loop.wrapAtEnd = true;
    // A whole file plays once whole and then its passes: one wrap more. Its stop is its
    // length, known once the engine opened it.
    n.toEnd = next.Start == 0 && next.Stop == 0;
    if (n.toEnd) n.loop.wraps = static_cast<int>(std::min(std::ceil(loops), 1e9));
    n.hasLoop = true;
    n.practice = next.Practice;
    return n;
}

void EntryPlayer::nextHeard()
{
    if (m_mode != Mode::CountedHandedOver && m_mode != Mode::CountedGoingBack) return;
    const bool back = m_mode == Mode::CountedGoingBack;
    enter(Mode::Idle);
    m_pendingWraps = 0;
    if (back) {
        // The list stays on the line just left (its next entry not taken), so after this
        // pass the line just heard starting comes again.
        start(m_entry.file, numtext::format(m_entry.start), numtext::format(m_entry.wholeFile ? 0.0 : m_entry.stop),
              numtext::format(m_entry.rate), QStringLiteral("1"), false, m_entry.practice, m_entry.text, Start::Fresh);
        return;
    }
    // The list moves on as the next entry is heard; it plays from its start already.
    const EntryRecord next = GetNextEntry();
    start(next.FileName, numtext::format(next.Start), numtext::format(next.Stop), numtext::format(next.Rate),
          numtext::format(next.Loops), false, next.Practice, next.Text, Start::HandedOver);
}

void EntryPlayer::handOverLoop(bool endless)
{
    engine::LoopRange range;
    range.start = m_entry.start;
    range.stop = m_entry.stop;
    if (endless) {
        range.wraps = engine::LoopRange::kEndless;
        range.wrapAtEnd = true;  // "from here to the end" loops too
    } else {
        // One wrap for every pass still to come after the one that starts now; after the
        // last pass the engine holds exactly at the stop for the list to go on.
        const double left = m_entry.loopsLeft;
        range.wraps = left > 0 ? static_cast<int>(std::min(std::ceil(left), 1e9)) : 0;
        range.holdAtStop = true;
        range.wrapAtEnd = true;  // a stretch to the file's end, or the whole file, too
    }
    m_player->setLoop(range);
    setTickPace(range);
}

void EntryPlayer::playerFailed(const QString& path, const QString& reason)
{
    enter(Mode::Idle);
    m_pendingWraps = 0;
    // Told from the event loop, not from inside the engine's report.
    QTimer::singleShot(0, this, [this, path, reason] { emit cannotPlay(path, reason); });
}

void EntryPlayer::stopPlayback()
{
    enter(Mode::Idle);
    m_pendingWraps = 0;
    m_stopFrom = StopFrom::Entry;
    m_player->clearLoop();
    m_player->Stop();
    // Stand at the entry's start, decoded: played again, it sounds at once.
    if (m_entry.start > 0 && !m_entry.file.isEmpty() && m_player->FileName() == m_entry.file)
        m_player->setCurrentPosition(m_entry.start);
}

void EntryPlayer::changeStretch(double start, double stop)
{
    if (start == m_entry.start && stop == m_entry.stop) return;
    // The stop is the entry's own from now on: a length the engine counts later leaves it.
    m_entry.wholeFile = false;
    m_stopFrom = StopFrom::Entry;
    m_entry.start = start;
    m_entry.stop = stop;
    if (!inPlay()) return;
    // The pass that plays goes on: no seek, only the range changes.
    handOverLoop(endless());
    if (counted() && nextDue()) handOverNext();
    // A stop moved to or before what is heard is reached now: the tick's check acts on it
    // at once rather than after what the engine still plays past it.
    if (endless()) loopTick();
    else passTick();
}

void EntryPlayer::changeRate(double rate)
{
    m_entry.rate = rate;
    if (!inPlay()) return;
    m_player->setRate(m_entry.rate);
    if (counted() && nextDue()) handOverNext();
}

void EntryPlayer::changePractice(const PracticeSettings& practice)
{
    m_entry.practice = practice;
    if (inPlay()) m_player->engine()->setPractice(m_entry.practice, engine::MediaEngine::kGoOn);
}

void EntryPlayer::togglePause()
{
    switch (static_cast<engine::PlayState>(m_player->PlayState())) {
    case engine::PlayState::Playing: m_player->Pause(); break;
    case engine::PlayState::Paused: m_player->Play(); break;
    case engine::PlayState::Stopped:
        // Played as it was started; a whole file keeps its stop at 0, so it plays whole.
        PlayPosition(m_entry.file, numtext::format(m_entry.start), numtext::format(m_entry.wholeFile ? 0.0 : m_entry.stop),
                     numtext::format(m_entry.rate), numtext::format(m_lastLoops), m_lastDoLoop, m_entry.practice,
                     m_entry.text);
        break;
    }
}

void EntryPlayer::loopTick()
{
    m_pendingWraps = 0;  // the engine's own wraps need no counting here
    const double position = m_player->CurrentPosition();
    if (!reached(position, m_entry.stop)) return;
    m_player->setCurrentPosition(m_entry.start);
    // An engine that did not wrap at the file's end has stopped there: start it again.
    const double duration = m_player->Duration();
    if (m_player->PlayState() == engine::PlayState::Stopped && duration > 0 && reached(position, duration))
        m_player->Play();
}

void EntryPlayer::passTick()
{
    const bool wrapped = m_pendingWraps > 0;
    if (wrapped) --m_pendingWraps;
    if (!wrapped && !reached(m_player->CurrentPosition(), m_entry.stop)) return;

    enter(Mode::Idle);
    if (m_entry.loopsLeft <= 0) {
        const EntryRecord next = GetNextEntry();
        start(next.FileName, numtext::format(next.Start), numtext::format(next.Stop), numtext::format(next.Rate),
              numtext::format(next.Loops), false, next.Practice, next.Text, Start::Fresh);
    } else {
        start(m_entry.file, numtext::format(m_entry.start), numtext::format(m_entry.stop), numtext::format(m_entry.rate),
              numtext::format(m_entry.loopsLeft), false, m_entry.practice, m_entry.text, wrapped ? Start::WrappedPass : Start::NextPass);
    }
}

void EntryPlayer::repeatOnce()
{
    if (!counted()) return;
    // The next entry, handed over, may be rendered ahead already: the engine takes it back
    // (it is handed over again after the pass more). Once it is heard, it is too late.
    if (m_mode == Mode::CountedGoingBack) return;  // one going back at a time
    if (m_mode == Mode::CountedHandedOver) {
        if (!m_player->engine()->takeBackNext()) {
            m_mode = Mode::CountedGoingBack;
            return;
        }
        setHandedOver(false);
    }
    m_entry.loopsLeft += 1;
    if (m_stopFrom != StopFrom::AwaitedLength) handOverLoop(false);
}

void EntryPlayer::setText(const QString& text)
{
    if (text == m_entry.text) return;
    m_entry.text = text;
    emit textChanged(m_entry.text);
}

EntryRecord EntryPlayer::GetNextEntry()
{
    return m_nextEntry ? m_nextEntry() : EntryRecord{};
}

} // namespace playback
