#include "playback/entryplayer.h"

#include "app/filecheck.h"
#include "app/numbertext.h"
#include "playback/mediaplayer.h"
#include "services/messages.h"

#include <QTimer>
#include <cmath>

namespace player {
namespace {

// A stop written as number text may round a hair above the position the engine reports
// at the file's end; that must still count as reaching it.
bool reached(double position, double stop)
{
    return position >= stop - std::abs(stop) * 1e-12;
}

bool sameSpot(double a, double b) { return std::abs(a - b) < 1e-9; }

QTimer* makeTickTimer(QObject* parent)
{
    auto* t = new QTimer(parent);
    t->setInterval(EntryPlayer::kTickMs);
    t->setTimerType(Qt::PreciseTimer);
    return t;
}

} // namespace

EntryPlayer::EntryPlayer(MediaPlayer* mediaPlayer, QWidget* dialogParent, QObject* parent)
    : QObject(parent), m_player(mediaPlayer), m_dialogParent(dialogParent),
      m_tmrLooper(makeTickTimer(this)), m_tmrPlayer(makeTickTimer(this))
{
    connect(m_tmrLooper, &QTimer::timeout, this, &EntryPlayer::tmrLooper_Timer);
    connect(m_tmrPlayer, &QTimer::timeout, this, &EntryPlayer::tmrPlayer_Timer);
    connect(m_player, &MediaPlayer::loopWrapped, this, [this] {
        ++m_pendingWraps;
        // Counted at once rather than at the next tick, which may only stand by.
        QMetaObject::invokeMethod(this, [this] {
            if (counted() && m_pendingWraps > 0) tmrPlayer_Timer();
        }, Qt::QueuedConnection);
    });
    connect(m_player, &MediaPlayer::loadFailed, this, &EntryPlayer::playerFailed);
    connect(m_player->engine(), &MediaEngine::nextStarted, this, &EntryPlayer::nextHeard);
    connect(m_player, &MediaPlayer::DurationChange, this, &EntryPlayer::lengthChanged);
    // A held stop or a file's end is acted on as soon as it is heard rather than at the
    // next tick: the list goes on without up to a tick of silence. Queued, so the engine
    // is out of its report before the next entry reaches it.
    connect(m_player, &MediaPlayer::PlayStateChange, this, [this](PlayState, PlayState newState) {
        if (newState == PlayState::Stopped && inPlay())
            QMetaObject::invokeMethod(this, &EntryPlayer::endHeard, Qt::QueuedConnection);
    });
}

void EntryPlayer::endHeard()
{
    // The same check as the tick's: whatever happened meanwhile decides.
    if (m_player->PlayState() != PlayState::Stopped) return;
    if (counted()) tmrPlayer_Timer();
    else if (endless()) tmrLooper_Timer();
}

int EntryPlayer::tickInterval(const std::optional<LoopRange>& handed)
{
    // A stop at or before the start is never cut by the engine: the ticks watch for it.
    return !handed || handed->stop > handed->start ? kStandbyMs : kTickMs;
}

void EntryPlayer::setTickPace(const std::optional<LoopRange>& handed)
{
    const int ms = tickInterval(handed);
    for (QTimer* t : {m_tmrLooper, m_tmrPlayer})
        if (t->interval() != ms) t->setInterval(ms);  // a running timer restarts with it
}

bool EntryPlayer::endless() const { return m_tmrLooper->isActive(); }
bool EntryPlayer::counted() const { return m_tmrPlayer->isActive(); }

void EntryPlayer::PlayPosition(const QString& strFileName, const QString& strStart, const QString& strEnd,
                               const QString& strRate, const QString& strLoops, bool ynDoLoop,
                               const PracticeSettings& practice, const QString& text)
{
    setText(text);
    double loops = 0;
    numtext::assignIfParsed(numtext::parseZeroPrefixed(strLoops), loops);
    numtext::assignIfParsed(numtext::parseZeroPrefixed(strEnd), mdblStop);
    numtext::assignIfParsed(numtext::parseZeroPrefixed(strRate), mdblRate);
    numtext::assignIfParsed(numtext::parseZeroPrefixed(strStart), mdblStart);
    mstrFileName = strFileName;
    mPractice = practice;

    if (mdblRate == 0) mdblRate = 1.0;
    if (loops == 0) loops = 1.0;
    mdblLoopsLeft = loops;
    m_lastLoops = loops;
    m_lastDoLoop = ynDoLoop;

    const bool afterWrap = m_replayAfterWrap;
    m_replayAfterWrap = false;
    const bool samePass = m_replayingPass;
    m_replayingPass = false;
    m_nextHandedOver = false;
    m_stopFrom = StopFrom::Entry;
    if (!afterWrap) m_pendingWraps = 0;

    if (mstrFileName.isEmpty()) return;

    if (!services::MediaFileFound(mstrFileName, m_dialogParent)) return;

    bool reloaded = false;
    if (m_player->FileName() != mstrFileName) {
        m_player->Stop();
        m_player->setFileName(mstrFileName);
        reloaded = true;
    }

    // After the engine's own wrap the passes go on as it counts them; a whole file played
    // again is the entry's next pass; anything else starts the entry over.
    m_pass = samePass ? m_pass + 1 : 0;
    m_player->engine()->setPractice(mPractice, afterWrap && !reloaded ? MediaEngine::kGoOn : m_pass);

    const bool stretch = mdblStart != 0 || mdblStop != 0;
    m_wholeFile = !stretch;
    // Right after the engine wrapped this very stretch it already stands at the start:
    // seeking again would only flush what is playing.
    const bool alreadyAtStart = afterWrap && !reloaded && sameSpot(m_player->engine()->loop().start, mdblStart);
    if (stretch) {
        // The range goes to the engine before the seek and the play, so no stale hold
        // point or range applies to the new stretch.
        mdblLoopsLeft -= 1;
        handOverLoop(ynDoLoop);
        if (!alreadyAtStart) m_player->setCurrentPosition(mdblStart);
        m_player->setRate(mdblRate);
        m_player->Play();
    } else {
        // Handed over by the engine, the file plays from its start already.
        const bool handedOver = afterWrap && !reloaded;
        if (!handedOver) {
            m_player->clearLoop();
            setTickPace(std::nullopt);
            m_player->setCurrentPosition(mdblStart);
        }
        m_player->setRate(mdblRate);
        if (!handedOver) m_player->Open(mstrFileName);
        mdblStop = m_player->Duration();
        m_stopFrom = mdblStop > 0 ? StopFrom::FileLength : StopFrom::AwaitedLength;
        m_loopWhole = ynDoLoop;
        // The whole file wraps at its end like any stretch, without end or for its passes:
        // no gap between them.
        if (mdblStop > 0) handOverLoop(ynDoLoop);
    }

    // A file that does not play, or a whole file whose length is unknown, has no stop to
    // watch for: the timers would only spin on it.
    if (m_player->failed()) {
        m_tmrLooper->stop();
        m_tmrPlayer->stop();
        if (!reloaded) tellCannotPlay(mstrFileName, m_player->failure());
        return;
    }
    if (!stretch && mdblStop <= 0) {
        m_tmrLooper->stop();
        m_tmrPlayer->stop();
        return;
    }
    watchStop(ynDoLoop);
}

void EntryPlayer::watchStop(bool loop)
{
    if (loop) {
        m_tmrLooper->start();
        m_tmrPlayer->stop();
    } else {
        m_tmrLooper->stop();
        m_tmrPlayer->start();
        if (m_stopFrom == StopFrom::Entry && mdblLoopsLeft <= 0) handOverNext();
    }
}

void EntryPlayer::lengthChanged(double seconds)
{
    // A whole file's stop is its length: the engine may count it only after the file
    // opened, more exactly than its headers told.
    if (m_stopFrom == StopFrom::Entry || m_player->FileName() != mstrFileName || seconds == mdblStop || seconds <= 0) return;
    mdblStop = seconds;
    handOverLoop(m_loopWhole);
    if (m_stopFrom == StopFrom::AwaitedLength) {
        m_stopFrom = StopFrom::FileLength;
        watchStop(m_loopWhole);
    }
}

void EntryPlayer::handOverNext()
{
    if (!m_peekNext) return;
    const EntryRecord next = m_peekNext();
    if (next.FileName.isEmpty() || !app::mediaFileUsable(next.FileName)) return;
    NextEntry n;
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
    m_nextHandedOver = m_player->engine()->queueNext(n);
}

void EntryPlayer::nextHeard()
{
    if (!m_nextHandedOver || !counted()) return;
    // The list moves on as the next entry is heard; it plays from its start already.
    m_tmrPlayer->stop();
    m_pendingWraps = 0;
    const EntryRecord next = GetNextEntry();
    m_replayAfterWrap = true;
    PlayPosition(next.FileName, numtext::format(next.Start), numtext::format(next.Stop), numtext::format(next.Rate),
                 numtext::format(next.Loops), false, next.Practice, next.Text);
}

void EntryPlayer::handOverLoop(bool endless)
{
    LoopRange range;
    range.start = mdblStart;
    range.stop = mdblStop;
    if (endless) {
        range.wraps = LoopRange::kEndless;
        range.wrapAtEnd = true;  // "from here to the end" loops too
    } else {
        // One wrap for every pass still to come after the one that starts now; after the
        // last pass the engine holds exactly at the stop for the list to go on.
        range.wraps = mdblLoopsLeft > 0 ? static_cast<int>(std::min(std::ceil(mdblLoopsLeft), 1e9)) : 0;
        range.holdAtStop = true;
        range.wrapAtEnd = true;  // a stretch to the file's end, or the whole file, too
    }
    m_player->setLoop(range);
    setTickPace(range);
}

void EntryPlayer::playerFailed(const QString& path, const QString& reason)
{
    m_tmrLooper->stop();
    m_tmrPlayer->stop();
    m_pendingWraps = 0;
    // Told from the event loop, not from inside the engine's report.
    QTimer::singleShot(0, this, [this, path, reason] { tellCannotPlay(path, reason); });
}

void EntryPlayer::tellCannotPlay(const QString& path, const QString& reason)
{
    services::MsgBox(MediaPlayer::cannotPlayText(path, reason), services::MsgButtons::OK, services::MsgIcon::Critical,
                     QString::fromLatin1(MediaPlayer::kCannotPlayTitle), m_dialogParent);
}

void EntryPlayer::stopPlayback()
{
    m_tmrLooper->stop();
    m_tmrPlayer->stop();
    m_pendingWraps = 0;
    m_stopFrom = StopFrom::Entry;
    m_player->clearLoop();
    m_player->Stop();
    // Stand at the entry's start, decoded: played again, it sounds at once.
    if (mdblStart > 0 && !mstrFileName.isEmpty() && m_player->FileName() == mstrFileName)
        m_player->setCurrentPosition(mdblStart);
}

void EntryPlayer::changeStretch(double start, double stop)
{
    if (start == mdblStart && stop == mdblStop) return;
    // The stop is the entry's own from now on: a length the engine counts later leaves it.
    m_wholeFile = false;
    m_stopFrom = StopFrom::Entry;
    m_loopWhole = false;
    mdblStart = start;
    mdblStop = stop;
    if (!inPlay()) return;
    // The pass that plays goes on: no seek, only the range changes.
    handOverLoop(endless());
    if (counted() && mdblLoopsLeft <= 0) handOverNext();
    // A stop moved to or before what is heard is reached now: the tick's check acts on it
    // at once rather than after what the engine still plays past it.
    if (endless()) tmrLooper_Timer();
    else tmrPlayer_Timer();
}

void EntryPlayer::changeRate(double rate)
{
    mdblRate = rate;
    if (!inPlay()) return;
    m_player->setRate(mdblRate);
    if (counted() && mdblLoopsLeft <= 0) handOverNext();
}

void EntryPlayer::changePractice(const PracticeSettings& practice)
{
    mPractice = practice;
    if (inPlay()) m_player->engine()->setPractice(mPractice, MediaEngine::kGoOn);
}

void EntryPlayer::togglePause()
{
    switch (static_cast<PlayState>(m_player->PlayState())) {
    case PlayState::Playing: m_player->Pause(); break;
    case PlayState::Paused: m_player->Play(); break;
    case PlayState::Stopped:
        // Played as it was started; a whole file keeps its stop at 0, so it plays whole.
        PlayPosition(mstrFileName, numtext::format(mdblStart), numtext::format(m_wholeFile ? 0.0 : mdblStop),
                     numtext::format(mdblRate), numtext::format(m_lastLoops), m_lastDoLoop, mPractice, mstrText);
        break;
    }
}

void EntryPlayer::tmrLooper_Timer()
{
    m_pendingWraps = 0;  // the engine's own wraps need no counting here
    const double position = m_player->CurrentPosition();
    if (!reached(position, mdblStop)) return;
    m_player->setCurrentPosition(mdblStart);
    // An engine that did not wrap at the file's end has stopped there: start it again.
    const double duration = m_player->Duration();
    if (m_player->PlayState() == PlayState::Stopped && duration > 0 && reached(position, duration))
        m_player->Play();
}

void EntryPlayer::tmrPlayer_Timer()
{
    const bool wrapped = m_pendingWraps > 0;
    if (wrapped) --m_pendingWraps;
    if (!wrapped && !reached(m_player->CurrentPosition(), mdblStop)) return;

    m_tmrPlayer->stop();
    if (mdblLoopsLeft <= 0) {
        const EntryRecord next = GetNextEntry();
        PlayPosition(next.FileName, numtext::format(next.Start), numtext::format(next.Stop),
                     numtext::format(next.Rate), numtext::format(next.Loops), false, next.Practice, next.Text);
    } else {
        m_replayAfterWrap = wrapped;
        m_replayingPass = true;
        PlayPosition(mstrFileName, numtext::format(mdblStart), numtext::format(mdblStop), numtext::format(mdblRate),
                     numtext::format(mdblLoopsLeft), false, mPractice, mstrText);
    }
}

void EntryPlayer::repeatOnce()
{
    if (!counted()) return;
    // One wrap more for the engine: where the next entry was handed over already, the
    // engine holds for it only once the wraps are used up.
    mdblLoopsLeft += 1;
    if (m_stopFrom != StopFrom::AwaitedLength) handOverLoop(false);
}

void EntryPlayer::setText(const QString& text)
{
    if (text == mstrText) return;
    mstrText = text;
    emit textChanged(mstrText);
}

EntryRecord EntryPlayer::GetNextEntry()
{
    return m_nextEntry ? m_nextEntry() : EntryRecord{};
}

} // namespace player
