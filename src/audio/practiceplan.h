#pragma once
// An entry's practice settings as the sound engine renders them: for each pass its rate,
// the silence and count-in clicks before it, and the pitch. No threads and no clock, so
// every figure here is checked to the sample.
#include "app/practice.h"

#include <vector>

namespace audio {

struct PassPlan {
    double rate = 1;             // the rate this pass plays at
    qint64 prerollFrames = 0;    // frames of silence (with the clicks) before its first frame
    std::vector<qint64> clicks;  // where each click begins, counted from the preroll's start
    std::vector<bool> accents;   // which clicks are accented; empty: the first
};

// A click on the source's own time line: seconds from the pass's start (negative before
// it), heard at the pass's rate.
struct SourceClick {
    double seconds = 0;
    bool accent = false;
    bool operator==(const SourceClick&) const = default;
};

class PracticePlan {
public:
    PracticePlan() = default;
    // `stretchSeconds`: the source one pass plays (stop minus start, or the file from where it
    // starts), which a pause given as a multiple of the pass's heard length needs; 0 where
    // not known yet, which makes that pause none.
    PracticePlan(const PracticeSettings& settings, double entryRate, int sampleRate, double stretchSeconds = 0);

    // The bar an automatic count-in plays, from the file's beats; none (the default) plays
    // the typed clicks instead.
    void setCountInBar(std::vector<SourceClick> bar) { m_bar = std::move(bar); }

    // Passes count from 0, the first one played after the settings were given.
    double rateOf(int pass) const;
    PassPlan pass(int pass) const;
    double pitchScale() const { return m_settings.pitchScale(); }
    // Whether some pass needs the stretcher (a rate other than 1, or a transpose).
    bool stretches() const;
    // Whether the seam before `pass` is cut rather than blended: the pass before fades out
    // and this one fades in, with its preroll or its new rate between.
    bool cutBefore(int pass) const;
    // Whether the pause follows each pass's heard length (it is never empty then, whatever
    // the stretch turns out to be once its file is open).
    bool pausesByLength() const { return m_settings.pauseFactor > 0; }
    // Whether the passes play as `settings` at `entryRate` ask (what they hear aside).
    bool playsAs(const PracticeSettings& settings, double entryRate) const;

private:
    PracticeSettings m_settings;
    double m_entryRate = 1;
    int m_sampleRate = 44100;
    double m_stretchSeconds = 0;
    std::vector<SourceClick> m_bar;
};

// Whether the seam from `current`'s pass `pass` into the list's next entry is cut rather
// than blended: the next one's first pass has a preroll, or another rate or pitch.
bool cutIntoNext(const PracticePlan& current, int pass, const PracticePlan& next);

// Where a preroll paused at frame `at` goes on when played again: in the pause, at the
// same frame (its rest, then the whole count-in); in the count-in, at its first click, for
// a part of a count-in gives no tempo to come in on.
qint64 prerollResumeAt(const PassPlan& plan, qint64 at);

// The count-in's click: a short decaying sine burst; the first of a count-in is accented.
qint64 clickLength(int sampleRate);
float clickSample(qint64 i, int sampleRate, bool accent);

// Frames [from, from + n) of a pass's preroll into stereo `out`: silence, clicks mixed in.
void renderPreroll(const PassPlan& plan, int sampleRate, qint64 from, float* out, qint64 n);

} // namespace audio
