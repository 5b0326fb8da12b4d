#include "storage/practicekeys.h"

#include "app/numbertext.h"
#include "storage/modkelini.h"
#include "storage/stemkeys.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <iterator>
#include <optional>

namespace storage {
using namespace ::practice;

namespace {

using When = PracticeSettings::CountInWhen;

// Digits are bounded before any conversion, so no text can stand for a huge number.
std::optional<double> decimal(const QString& part)
{
    static const QRegularExpression form(QStringLiteral("^-?[0-9]{1,6}(\\.[0-9]{1,15})?$"));
    if (!form.match(part).hasMatch()) return std::nullopt;
    return part.toDouble();
}

std::optional<qint32> whole(const QString& part)
{
    static const QRegularExpression form(QStringLiteral("^-?[0-9]{1,6}$"));
    if (!form.match(part).hasMatch()) return std::nullopt;
    return part.toInt();
}

// Fixed notation to the fifteen places a text may hold, so that every value read writes
// back in a form read again as the same value (never "1e-15", which the reader refuses).
QString text(double v)
{
    QString t = QString::number(v, 'f', 15);
    while (t.endsWith(QLatin1Char('0'))) t.chop(1);
    if (t.endsWith(QLatin1Char('.'))) t.chop(1);
    return t == QLatin1String("-0") ? QStringLiteral("0") : t;
}

bool within(double v, double low, double high) { return v >= low && v <= high; }

QStringList parts(const QString& t) { return t.split(QLatin1Char(' '), Qt::SkipEmptyParts); }

// Each reader fills its setting when the text is one it can hold and says whether it was.
bool readPause(const QStringList& p, PracticeSettings& s)
{
    // "0x" is off, as "0" is.
    if (p.size() == 1 && p[0].endsWith(u'x')) {
        const auto f = decimal(p[0].chopped(1));
        if (!f || (*f != 0 && !within(*f, kMinPauseFactor, kMaxPauseFactor))) return false;
        s.pauseFactor = *f;
        return true;
    }
    const auto v = p.size() == 1 ? decimal(p[0]) : std::nullopt;
    if (!v || !within(*v, 0, kMaxPause)) return false;
    s.pause = *v;
    return true;
}

bool readCountIn(const QStringList& p, PracticeSettings& s)
{
    if (p.size() != 3) return false;
    const auto clicks = whole(p[0]);
    const auto bpm = decimal(p[1]);
    const bool every = p[2] == QLatin1String("every");
    if (!clicks || !bpm || (!every && p[2] != QLatin1String("first"))) return false;
    if (!within(*clicks, 1, kMaxCountInClicks) || !within(*bpm, kMinCountInBpm, kMaxCountInBpm)) return false;
    s.countInClicks = *clicks;
    s.countInBpm = *bpm;
    s.countInWhen = every ? When::EveryPass : When::First;
    return true;
}

bool readTrainer(const QStringList& p, PracticeSettings& s)
{
    if (p.size() != 3) return false;
    const auto start = decimal(p[0]);
    const auto step = decimal(p[1]);
    const auto passes = whole(p[2]);
    if (!start || !step || !passes) return false;
    if (!within(*start, kMinTrainerRate, kMaxTrainerRate) || !within(*step, kMinTrainerStep, kMaxTrainerStep) ||
        !within(*passes, 1, kMaxTrainerPassesPerStep))
        return false;
    s.trainerStartRate = *start;
    s.trainerStep = *step;
    s.trainerPassesPerStep = *passes;
    return true;
}

bool readPitch(const QStringList& p, PracticeSettings& s)
{
    if (p.size() != 2) return false;
    const auto semitones = whole(p[0]);
    const auto cents = whole(p[1]);
    if (!semitones || !cents || !within(*semitones, -kMaxSemitones, kMaxSemitones) || !within(*cents, -kMaxCents, kMaxCents))
        return false;
    s.transposeSemitones = *semitones;
    s.transposeCents = *cents;
    return true;
}

const QString kAutoWord = QStringLiteral("auto");
const QString kClickWord = QStringLiteral("click");

bool isBeatWord(const QString& w) { return w == kAutoWord || w == kClickWord; }

bool readBeat(const QStringList& p, PracticeSettings& s)
{
    if (p.isEmpty() || p.size() > 2 || (p.size() == 2 && p[0] == p[1])) return false;
    for (const QString& w : p)
        if (!isBeatWord(w)) return false;
    s.countInAuto = p.contains(kAutoWord);
    s.metronome = p.contains(kClickWord);
    // A bar where no beats are known, when no count-in of its own came with it.
    if (s.countInAuto && !s.hasCountIn()) {
        s.countInClicks = kAutoCountInClicks;
        s.countInBpm = PracticeSettings{}.countInBpm;
        s.countInWhen = When::First;
    }
    return true;
}

bool readHear(const QStringList& p, PracticeSettings& s)
{
    const std::optional<HearSettings> h = hearOf(p.join(u' '));
    if (!h) return false;
    s.hear = *h;
    return true;
}

// A band edge: 0 (open) or within the bounds.
std::optional<double> edge(const QString& part)
{
    if (part.isEmpty()) return 0.0;
    const auto v = decimal(part);
    if (!v || (*v != 0 && !within(*v, ::hear::kMinCut, ::hear::kMaxCut))) return std::nullopt;
    return v;
}

} // namespace

QString hearText(const HearSettings& h)
{
    using C = HearSettings::Centre;
    using Ch = HearSettings::Channels;
    QStringList p;
    if (h.hasBand())
        p << (h.lowCut > 0 ? text(h.lowCut) : QString()) + u'-' + (h.highCut > 0 ? text(h.highCut) : QString());
    if (h.centre != C::Normal) p << QLatin1String(h.centre == C::Cancel ? "cancel" : "keep");
    if (h.channels != Ch::Both)
        p << QLatin1String(h.channels == Ch::Left ? "left" : h.channels == Ch::Right ? "right" : "mono");
    if (h.gainDb != 0) p << (h.gainDb > 0 ? QStringLiteral("+") : QString()) + text(h.gainDb) + QStringLiteral("dB");
    return p.join(u' ');
}

std::optional<HearSettings> hearOf(const QString& t)
{
    using C = HearSettings::Centre;
    using Ch = HearSettings::Channels;
    HearSettings h;
    // Each part at most once, in the written order.
    int next = 0;
    auto inOrder = [&next](int place) { return place >= next ? (next = place + 1, true) : false; };
    for (const QString& w : parts(t)) {
        const auto preset = std::find_if(std::begin(::hear::kPresets), std::end(::hear::kPresets),
                                         [&w](const ::hear::Preset& p) { return w == QLatin1String(p.name); });
        if (preset != std::end(::hear::kPresets) && inOrder(0)) {
            h.lowCut = preset->lowCut;
            h.highCut = preset->highCut;
        } else if (w.count(u'-') == 1 && !w.endsWith(QLatin1String("dB")) && inOrder(0)) {
            const auto low = edge(w.section(u'-', 0, 0));
            const auto high = edge(w.section(u'-', 1, 1));
            if (!low || !high || (*low == 0 && *high == 0)) return std::nullopt;
            h.lowCut = *low;
            h.highCut = *high;
        } else if ((w == QLatin1String("cancel") || w == QLatin1String("keep")) && inOrder(1)) {
            h.centre = w == QLatin1String("cancel") ? C::Cancel : C::Keep;
        } else if ((w == QLatin1String("left") || w == QLatin1String("right") || w == QLatin1String("mono")) && inOrder(2)) {
            h.channels = w == QLatin1String("left") ? Ch::Left : w == QLatin1String("right") ? Ch::Right : Ch::Mono;
        } else if (w.endsWith(QLatin1String("dB")) && inOrder(3)) {
            QString g = w.chopped(2);
            if (g.startsWith(u'+')) g.remove(0, 1);
            const auto v = decimal(g);
            if (!v) return std::nullopt;
            h.gainDb = *v;
        } else {
            return std::nullopt;
        }
    }
    if (!hearProblem(h).isEmpty()) return std::nullopt;
    return h;
}

PracticeTexts practiceTexts(const PracticeSettings& s)
{
    PracticeTexts t;
    if (s.hasPauseFactor()) t.pause = text(s.pauseFactor) + u'x';
    else if (s.hasPause()) t.pause = text(s.pause);
    if (s.hasCountIn())
        t.countIn = QStringLiteral("%1 %2 %3")
                        .arg(s.countInClicks)
                        .arg(text(s.countInBpm))
                        .arg(s.countInWhen == When::EveryPass ? QStringLiteral("every") : QStringLiteral("first"));
    if (s.hasTrainer())
        t.trainer = QStringLiteral("%1 %2 %3").arg(text(s.trainerStartRate), text(s.trainerStep)).arg(s.trainerPassesPerStep);
    if (s.hasTranspose()) t.pitch = QStringLiteral("%1 %2").arg(s.transposeSemitones).arg(s.transposeCents);
    QStringList beat;
    if (s.countInAuto && s.hasCountIn()) beat << kAutoWord;
    if (s.metronome) beat << kClickWord;
    t.beat = beat.join(u' ');
    t.hear = hearText(s.hear);
    t.stems = stemsText(s.stems);
    return t;
}

PracticeSettings practiceOf(const PracticeTexts& t, int* refused)
{
    PracticeSettings s;
    int bad = 0;
    // A setting is read whole or not at all: a refused text leaves its defaults.
    auto take = [&](const QString& value, bool (*read)(const QStringList&, PracticeSettings&)) {
        if (value.trimmed().isEmpty()) return;
        PracticeSettings tried = s;
        if (read(parts(value), tried)) s = tried;
        else ++bad;
    };
    take(t.pause, readPause);
    take(t.countIn, readCountIn);
    take(t.trainer, readTrainer);
    take(t.pitch, readPitch);
    // After the count-in, which it may fill in.
    take(t.beat, readBeat);
    take(t.hear, readHear);
    // File names may hold blanks: the text is read whole.
    if (!t.stems.isEmpty()) {
        if (const std::optional<StemSet> st = stemsOf(t.stems)) s.stems = *st;
        else ++bad;
    }
    if (refused) *refused = bad;
    return s;
}

QString countInCell(const PracticeTexts& t)
{
    return QStringList{t.countIn, t.beat}.join(u' ').trimmed();
}

PracticeTexts cellTexts(const QString& pause, const QString& countInCell, const QString& trainer, const QString& pitch,
                        const QString& hear, const QString& stems)
{
    QStringList words = parts(countInCell);
    QStringList beat;
    while (!words.isEmpty() && isBeatWord(words.last())) beat.prepend(words.takeLast());
    return {pause, words.join(u' '), trainer, pitch, beat.join(u' '), hear, stems};
}

QString practiceProblem(const PracticeSettings& s)
{
    auto range = [](const char* what, double low, double high, const char* unit) {
        return QStringLiteral("%1 must be from %2 to %3%4.")
            .arg(QLatin1String(what), numtext::format(low), numtext::format(high), QLatin1String(unit));
    };
    if (!within(s.pause, 0, kMaxPause)) return range("The pause", 0, kMaxPause, " seconds");
    if (s.pauseFactor != 0 && !within(s.pauseFactor, kMinPauseFactor, kMaxPauseFactor))
        return range("The pause", kMinPauseFactor, kMaxPauseFactor, " times the pass (or 0 for none)");
    // One key holds the pause: seconds or a multiple, never both.
    if (s.hasPause() && s.hasPauseFactor()) return QStringLiteral("The pause is either seconds or a multiple of the pass.");
    if (!within(s.countInClicks, 0, kMaxCountInClicks)) return range("The count-in", 0, kMaxCountInClicks, " clicks");
    if (s.countInClicks > 0 && !within(s.countInBpm, kMinCountInBpm, kMaxCountInBpm))
        return range("The count-in's tempo", kMinCountInBpm, kMaxCountInBpm, " clicks a minute");
    if (s.trainerStartRate != 0 && !within(s.trainerStartRate, kMinTrainerRate, kMaxTrainerRate))
        return range("The trainer's start rate", kMinTrainerRate, kMaxTrainerRate, " (or 0 for no trainer)");
    if (s.trainerStartRate != 0 && !within(s.trainerStep, kMinTrainerStep, kMaxTrainerStep))
        return range("The trainer's step", kMinTrainerStep, kMaxTrainerStep, "");
    if (s.trainerStartRate != 0 && !within(s.trainerPassesPerStep, 1, kMaxTrainerPassesPerStep))
        return range("The trainer's passes per step", 1, kMaxTrainerPassesPerStep, "");
    if (!within(s.transposeSemitones, -kMaxSemitones, kMaxSemitones))
        return range("The transpose", -kMaxSemitones, kMaxSemitones, " semitones");
    if (!within(s.transposeCents, -kMaxCents, kMaxCents)) return range("The cents", -kMaxCents, kMaxCents, "");
    if (const QString p = stemsProblem(s.stems); !p.isEmpty()) return p;
    return hearProblem(s.hear);
}

QString hearProblem(const HearSettings& h)
{
    using namespace ::hear;
    auto range = [](const char* what, double low, double high, const char* unit) {
        return QStringLiteral("%1 must be from %2 to %3%4.")
            .arg(QLatin1String(what), numtext::format(low), numtext::format(high), QLatin1String(unit));
    };
    if (h.lowCut != 0 && !within(h.lowCut, kMinCut, kMaxCut)) return range("The low cut", kMinCut, kMaxCut, " Hz (or none)");
    if (h.highCut != 0 && !within(h.highCut, kMinCut, kMaxCut))
        return range("The high cut", kMinCut, kMaxCut, " Hz (or none)");
    if (h.lowCut > 0 && h.highCut > 0 && h.lowCut >= h.highCut) return QStringLiteral("The low cut must lie below the high cut.");
    if (!within(h.gainDb, kMinGainDb, kMaxGainDb)) return range("The gain", kMinGainDb, kMaxGainDb, " dB");
    // Both channels the same, then the centre taken away: nothing is left.
    if (h.centre == HearSettings::Centre::Cancel && h.channels == HearSettings::Channels::Mono)
        return QStringLiteral("With the centre cancelled, mono is silence.");
    return {};
}

PracticeTexts readPracticeKeys(const QString& section, const QString& n, const QString& strFile)
{
    auto read = [&](const QString& key) { return ReadINI(section, key + n, QString(), strFile); };
    return {read(kFilePause), read(kFileCountIn), read(kFileTrainer), read(kFilePitch), read(kFileBeat), read(kFileHear),
            read(kFileStems)};
}

void writePracticeKeys(const QString& section, const QString& n, const PracticeTexts& t, const QString& strFile)
{
    auto write = [&](const QString& key, const QString& value) {
        if (value.isEmpty() && ReadINI(section, key + n, QString(), strFile).isEmpty()) return;
        WriteINI(section, key + n, value, strFile);
    };
    write(kFilePause, t.pause);
    write(kFileCountIn, t.countIn);
    write(kFileTrainer, t.trainer);
    write(kFilePitch, t.pitch);
    write(kFileBeat, t.beat);
    write(kFileHear, t.hear);
    write(kFileStems, t.stems);
}

} // namespace storage
