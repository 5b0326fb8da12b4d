#include "windows/frmedit.h"

#include "app/numbertext.h"
#include "beats/beatsnap.h"
#include "playback/enginecontrol.h"
#include "playback/snapsetting.h"
#include "windows/beatmenu.h"
#include "engine/enginefactory.h"
#include "playback/mediaplayer.h"
#include "playback/waveformbinding.h"
#include "waveform/waveformview.h"
#include "services/controls.h"
#include "services/fitlabel.h"
#include "services/keldialogs.h"
#include "services/messages.h"
#include "services/placement.h"
#include "services/ticks.h"
#include "services/titlebar.h"
#include "services/twips.h"
#include "services/wmbuttons.h"
#include "storage/practicekeys.h"
#include "windows/forms.h"
#include "windows/frmplaylist.h"
#include "windows/stemslist.h"

#include <QTableWidget>

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <cmath>

using services::makeBox;
using services::makeButton;
using services::twipsRect;

namespace editor {
namespace {

const QString kNotFoundTitle = QStringLiteral("Not Found");

// The waveform's strip, with a gap to the slider below it.
constexpr double kWaveTwips = 1260;
// The practice settings' strip below the slider.
constexpr double kPracticeTwips = 1410;
constexpr double kPracticeTop = 3135 + kWaveTwips;
// The entry's text below the practice strip.
constexpr double kTextTwips = 420;
constexpr double kTextTop = kPracticeTop + kPracticeTwips;
constexpr double kHearTop = kTextTop + kTextTwips - 60;
// The entry's stems below the hear box: their list and its buttons.
constexpr double kStemsTop = kHearTop + kTextTwips;
constexpr double kStemsTwips = 1800;

QLabel* makeLabel(QWidget* parent, const QString& text, const QRect& at, bool wrap = false)
{
    auto* l = new services::FitLabel(text, parent);
    l->setWordWrap(wrap);
    l->setGeometry(at);
    if (wrap) return l;
    // A caption wider than its design box (fonts differ) runs on rather than being cut.
    if (l->sizeHint().width() > at.width()) l->resize(l->sizeHint().width(), at.height());
    return l;
}

} // namespace

frmEdit::frmEdit(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmEdit"));
    setWindowTitle(QStringLiteral("List Entries"));
    // Customised: the window manager then draws no minimise and maximise buttons either
    // (openbox, which reads only the window's type for them: keepToCloseOnly).
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    // Taller than the design by the waveform's strip above the slider.
    setFixedSize(services::twipsSize(7485, kStemsTop + kStemsTwips + 120));
    services::keepToCloseOnly(this);
    setModal(false);

    m_framEdit = new QGroupBox(QStringLiteral("Add / Edit:"), this);
    m_framEdit->setGeometry(twipsRect(0, 0, 6255, 3135 + kWaveTwips));
    QWidget* f = m_framEdit;

    auto* instructions = makeLabel(f, QStringLiteral("Press Add New to create a new entry with this information.  "
                                                     "Press Apply to change the currently selected entry."),
                                   twipsRect(120, 195, 3015, 570), true);
    QFont small = instructions->font();
    small.setPointSizeF(6.75);
    instructions->setFont(small);
    makeLabel(f, QStringLiteral("File Path and Location:"), twipsRect(120, 840, 1635, 195));
    m_txtFileName = makeBox(f, twipsRect(120, 1080, 3015, 285), QString(), QString(), false);
    m_btnBrowse = makeButton(f, twipsRect(3120, 1080, 375, 285), QStringLiteral("..."), QStringLiteral("Browse for File"));
    makeLabel(f, QStringLiteral("Start Position:"), twipsRect(240, 1560, 975, 195));
    m_txtStart = makeBox(f, twipsRect(240, 1800, 1080, 285), QStringLiteral("0"));
    makeLabel(f, QStringLiteral("Stop Position:"), twipsRect(1440, 1560, 975, 195));
    m_txtStop = makeBox(f, twipsRect(1440, 1800, 1050, 285), QStringLiteral("10"));
    makeLabel(f, QStringLiteral("Rate:"), twipsRect(2670, 1440, 390, 195));
    m_txtRate = makeBox(f, twipsRect(2670, 1620, 615, 285), QStringLiteral("1"),
                        QStringLiteral("Rate of 1 is normal, .5 Plays at Half Speed, 2 plays at double speed"));
    makeLabel(f, QStringLiteral("Loops:"), twipsRect(2670, 1980, 480, 195));
    m_txtLoops = makeBox(f, twipsRect(2670, 2160, 615, 285), QStringLiteral("1"));
    // A text box would take its frame's caption for its name: each says what it holds.
    const std::pair<QWidget*, const char*> named[] = {{m_txtFileName, "File"}, {m_btnBrowse, "Browse for file"},
                                                      {m_txtStart, "Start position"}, {m_txtStop, "Stop position"},
                                                      {m_txtRate, "Rate"},     {m_txtLoops, "Loops"}};
    for (const auto& [w, name] : named) w->setAccessibleName(QString::fromLatin1(name));

    struct Mad { const char* caption; double left, width; const char* tip; const char* name; QKeySequence key; };
    static const Mad mads[6] = {
        {"M1", 240, 270, "Place Position saved in Memory 1 into Start Position", "Memory 1 to Start", Qt::CTRL | Qt::Key_1},
        {"M2", 615, 270, "Place Position saved in Memory 2 into Start Position", "Memory 2 to Start", Qt::CTRL | Qt::Key_2},
        {"TP", 1005, 255, "Place Test Position into Start Position", "Test position to Start", Qt::CTRL | Qt::Key_3},
        {"M1", 1455, 270, "", "Memory 1 to Stop", Qt::CTRL | Qt::SHIFT | Qt::Key_1},
        {"M2", 1800, 270, "Place Position saved in Memory 2 into Stop Position", "Memory 2 to Stop",
         Qt::CTRL | Qt::SHIFT | Qt::Key_2},
        {"TP", 2160, 255, "Place Test Position into Stop Position", "Test position to Stop", Qt::CTRL | Qt::SHIFT | Qt::Key_3}};
    for (int i = 0; i < 6; ++i) {
        // The position tools' keys: Ctrl with 1, 2, 3 fills Start, with Shift Stop.
        auto* key = new QAction(this);
        key->setShortcut(mads[i].key);
        connect(key, &QAction::triggered, this, [this, i] { lblMad_Click(i); });
        addAction(key);
        m_lblMad[i] = makeLabel(f, QString::fromLatin1(mads[i].caption), twipsRect(mads[i].left, 2085, mads[i].width, 195));
        QFont bold = m_lblMad[i]->font();
        bold.setBold(true);
        m_lblMad[i]->setFont(bold);
        m_lblMad[i]->setToolTip(QString::fromLatin1(mads[i].tip));
        m_lblMad[i]->setAccessibleName(QString::fromLatin1(mads[i].name));
        m_lblMad[i]->setCursor(Qt::PointingHandCursor);
        m_lblMad[i]->installEventFilter(this);
    }

    m_player = new playback::MediaPlayer(engine::makeEngine(), f);
    m_player->setObjectName(QStringLiteral("MediaPlayer1"));
    m_player->setAccessibleName(QStringLiteral("Test player"));
    m_player->setGeometry(twipsRect(3600, 120, 2535, 2355));

    m_sldPos = new QSlider(Qt::Horizontal, f);
    m_waveform = new waveform::WaveformView(f);
    m_waveform->setObjectName(QStringLiteral("Waveform"));
    m_waveform->setGeometry(twipsRect(120, 2520, 6015, kWaveTwips - 60));
    m_waveform->setToolTip(QStringLiteral("Drag the handles to set Start and Stop ([ and ] choose one, arrows move it); "
                                          "wheel or + and - zoom, 0 shows all"));
    auto* binding = new playback::WaveformBinding(m_player->control(), m_waveform, this);
    binding->bindBoxes(m_txtFileName, m_txtStart, m_txtStop);
    m_sldPos->setGeometry(twipsRect(120, 2520 + kWaveTwips, 6015, 495));
    m_sldPos->setRange(0, 100);
    m_sldPos->setSingleStep(1);
    m_sldPos->setPageStep(5);
    m_sldPos->setTickPosition(QSlider::TicksBelow);
    m_sldPos->setTickInterval(5);
    services::drawTicksFromPalette(m_sldPos);
    m_sldPos->setToolTip(QStringLiteral("More Sensitive Position Mover"));
    m_sldPos->setAccessibleName(QStringLiteral("Test position"));
    m_waveform->setAccessibleName(QStringLiteral("Waveform"));

    m_cmdOK = makeButton(this, twipsRect(6360, 120, 1095, 375), QStringLiteral("Add New"),
                         QStringLiteral("Add Current Setting into new List Entry"));
    m_cmdApply = makeButton(this, twipsRect(6360, 600, 1095, 375), QStringLiteral("Apply"),
                            QStringLiteral("Overwrite Current Setting of Selected List Entry"));
    m_btnTest = makeButton(this, twipsRect(6360, 1440, 1095, 375), QStringLiteral("&Test"));
    m_cmdCancel = makeButton(this, twipsRect(6360, 2160, 1095, 375), QStringLiteral("Close"),
                             QStringLiteral("Close this window without further changes"));

    buildPractice(this);
    buildBeats();
    makeLabel(this, QStringLiteral("Text:"), twipsRect(120, kTextTop + 45, 600, 195));
    m_txtText = makeBox(this, twipsRect(720, kTextTop, 5415, 285), QString(),
                        QStringLiteral("The line or label this entry stands for, shown while it plays; empty for none"));
    m_txtText->setAccessibleName(QStringLiteral("Text"));
    makeLabel(this, QStringLiteral("&Hear:"), twipsRect(120, kHearTop + 45, 600, 195))->setBuddy(m_txtHear = makeBox(
        this, twipsRect(720, kHearTop, 5415, 285), QString(),
        QStringLiteral("How the entry is heard: a band in Hz (200-4000, 2000- or -300; or bass, voice, treble), "
                       "cancel or keep the centre, left, right or mono, a gain (+6dB); empty for as it is")));
    m_txtHear->setPlaceholderText(QStringLiteral("e.g. voice cancel +3dB"));
    m_txtHear->setAccessibleName(QStringLiteral("Hear"));
    m_stemsList = new StemsList(this);
    m_stemsList->setGeometry(twipsRect(720, kStemsTop, 5415, kStemsTwips));
    m_stemsList->setEntryFile([this] { return m_txtFileName->text().trimmed(); });
    makeLabel(this, QStringLiteral("&Stems:"), twipsRect(120, kStemsTop + 45, 600, 195))->setBuddy(m_stemsList->table());
    connect(m_stemsList, &StemsList::changed, this, &frmEdit::stemsChanged);

    QWidget* order[] = {m_txtFileName, m_btnBrowse, m_txtStart, m_txtStop, m_cmdOK,  m_cmdApply,
                        m_cmdCancel,   m_txtRate,   m_txtLoops, m_btnTest, m_player, m_sldPos, m_waveform};
    for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
    QWidget* last = m_waveform;
    for (QWidget* box : m_txtPractice) {
        setTabOrder(last, box);
        last = box;
        if (box == m_txtPractice[Bpm]) {
            setTabOrder(box, m_chkEveryPass);
            setTabOrder(m_chkEveryPass, last = m_chkAutoCountIn);
        }
    }
    setTabOrder(last, m_chkMetronome);
    setTabOrder(m_chkMetronome, m_txtText);
    setTabOrder(m_txtText, m_txtHear);
    setTabOrder(m_txtHear, m_stemsList->table());
    setTabOrder(m_stemsList->table(), m_stemsList->button(StemsList::AddFiles));

    m_tmrLooper = new QTimer(this);
    m_tmrLooper->setInterval(5);
    m_tmrLooper->setTimerType(Qt::PreciseTimer);

    connect(m_cmdOK, &QPushButton::clicked, this, &frmEdit::cmdOK_Click);
    connect(m_cmdApply, &QPushButton::clicked, this, &frmEdit::cmdApply_Click);
    connect(m_cmdCancel, &QPushButton::clicked, this, &frmEdit::cmdCancel_Click);
    connect(m_btnTest, &QPushButton::clicked, this, &frmEdit::btnTest_Click);
    connect(m_btnBrowse, &QPushButton::clicked, this, &frmEdit::btnBrowse_Click);
    connect(m_txtLoops, &QLineEdit::editingFinished, this, &frmEdit::txtLoops_LostFocus);
    connect(m_txtRate, &QLineEdit::editingFinished, this, &frmEdit::txtRate_LostFocus);
    connect(m_tmrLooper, &QTimer::timeout, this, &frmEdit::tmrLooper_Timer);
    connect(m_sldPos, &QSlider::valueChanged, this, &frmEdit::sldPos_Change);
    connect(m_player, &playback::MediaPlayer::PlayStateChange, this, &frmEdit::MediaPlayer1_PlayStateChange);
    connect(m_player, &playback::MediaPlayer::loadFailed, this, [this](const QString& path, const QString& reason) {
        m_tmrLooper->stop();
        QTimer::singleShot(0, this, [this, path, reason] {
            services::TellCannotPlay(path, reason, this);
        });
    });
    services::addOwnTitleBar(this);
}

frmEdit::~frmEdit() = default;

void frmEdit::buildPractice(QWidget* parent)
{
    auto* frame = new QGroupBox(QStringLiteral("Practice:"), parent);
    frame->setGeometry(twipsRect(0, kPracticeTop, 6255, kPracticeTwips - 60));
    struct Group { const char* caption; double left; };
    for (const Group& g : {Group{"Pause:", 120}, Group{"Count-in:", 900}, Group{"Trainer:", 2310}, Group{"Transpose:", 4410}})
        makeLabel(frame, QString::fromLatin1(g.caption), twipsRect(g.left, 240, 900, 195));
    struct Box { const char* hint; double left, width; const char* tip; const char* name; };
    static const Box boxes[kPracticeBoxes] = {
        {"sec", 120, 600, "Silence before each pass, in seconds, or with an x after it (1.5x) as a multiple of the pass's "
                          "heard length; empty for none",
         "Pause seconds"},
        {"clicks", 900, 600, "Clicks before the pass; empty for no count-in", "Count-in clicks"},
        {"bpm", 1530, 600, "Tempo of the clicks, a minute; empty for 120", "Count-in tempo"},
        {"from", 2310, 600, "Speed trainer: the rate of the first pass, rising (or falling) to the entry's rate; empty for no trainer",
         "Trainer start rate"},
        {"step", 2940, 600, "Speed trainer: the change of rate at each step; empty for 0.05", "Trainer step"},
        {"passes", 3570, 660, "Speed trainer: the passes at each rate; empty for 1", "Trainer passes per step"},
        {"semi", 4410, 840, "Transpose by semitones, the speed kept; empty for none", "Transpose semitones"},
        {"cents", 5280, 600, "Transpose by cents (hundredths of a semitone); empty for none", "Transpose cents"}};
    for (int i = 0; i < kPracticeBoxes; ++i) {
        m_txtPractice[i] = makeBox(frame, twipsRect(boxes[i].left, 450, boxes[i].width, 285), QString(),
                                   QString::fromLatin1(boxes[i].tip));
        m_txtPractice[i]->setPlaceholderText(QString::fromLatin1(boxes[i].hint));
        m_txtPractice[i]->setAccessibleName(QString::fromLatin1(boxes[i].name));
    }
    m_chkEveryPass = new QCheckBox(QStringLiteral("Before every pass"), frame);
    m_chkEveryPass->setGeometry(twipsRect(900, 780, 1800, 240));
    m_chkEveryPass->setToolTip(QStringLiteral("Count in before every pass, not only the first"));
    services::fitFontToBox(m_chkEveryPass);
    m_chkTrainerBpm = new QCheckBox(QStringLiteral("Trainer in bpm"), frame);
    m_chkTrainerBpm->setGeometry(twipsRect(2760, 780, 1560, 240));
    m_chkTrainerBpm->setToolTip(QStringLiteral("The trainer's start and step in beats a minute, at the file's tempo where "
                                               "the entry starts (kept as rates); needs the file's beats"));
    m_chkTrainerBpm->setAccessibleName(QStringLiteral("Trainer in beats a minute"));
    services::fitFontToBox(m_chkTrainerBpm);
    connect(m_chkTrainerBpm, &QCheckBox::toggled, this, &frmEdit::trainerUnitChanged);
    m_chkAutoCountIn = new QCheckBox(QStringLiteral("On the beats"), frame);
    m_chkAutoCountIn->setGeometry(twipsRect(900, 1050, 1800, 240));
    m_chkAutoCountIn->setToolTip(QStringLiteral("Count in one bar at the file's own tempo and meter, found in its sound; "
                                                "the clicks and tempo above play until its beats are known"));
    services::fitFontToBox(m_chkAutoCountIn);
    m_chkMetronome = new QCheckBox(QStringLiteral("Metronome"), frame);
    m_chkMetronome->setGeometry(twipsRect(4410, 780, 1700, 240));
    m_chkMetronome->setToolTip(QStringLiteral("A click on every beat of the file while the entry plays (sound files)"));
    services::fitFontToBox(m_chkMetronome);
}

void frmEdit::showPractice(const PracticeSettings& p)
{
    auto show = [this](PracticeBox box, bool on, const QString& text) { m_txtPractice[box]->setText(on ? text : QString()); };
    show(Pause, p.hasPause() || p.pauseFactor > 0,
         p.pauseFactor > 0 ? numtext::format(p.pauseFactor) + u'x' : numtext::format(p.pause));
    show(Clicks, p.hasCountIn(), numtext::formatInt(p.countInClicks));
    // A setting that is on shows every value, as the grid does ("4 120 first").
    show(Bpm, p.hasCountIn(), numtext::format(p.countInBpm));
    show(TrainerStart, p.hasTrainer(), numtext::format(p.trainerStartRate));
    show(TrainerStep, p.hasTrainer(), numtext::format(p.trainerStep));
    show(TrainerPasses, p.hasTrainer(), numtext::formatInt(p.trainerPassesPerStep));
    show(Semitones, p.transposeSemitones != 0, numtext::formatInt(p.transposeSemitones));
    show(Cents, p.transposeCents != 0, numtext::formatInt(p.transposeCents));
    m_chkEveryPass->setChecked(p.hasCountIn() && p.countInWhen == PracticeSettings::CountInWhen::EveryPass);
    // The rates just shown, in the unit chosen where the tempo is known.
    if (m_chkTrainerBpm->isChecked()) trainerUnitChanged(true);
    m_chkAutoCountIn->setChecked(p.hasCountIn() && p.countInAuto);
    m_chkMetronome->setChecked(p.metronome);
    m_txtHear->setText(storage::hearText(p.hear));
    m_stemsList->setStems(p.stems);
}

bool frmEdit::readPractice(PracticeSettings& out)
{
    static const char* const names[kPracticeBoxes] = {"The pause",          "The count-in's clicks",
                                                      "The count-in's tempo", "The trainer's start rate",
                                                      "The trainer's step", "The trainer's passes per step",
                                                      "The semitones",      "The cents"};
    static const bool whole[kPracticeBoxes] = {false, true, false, false, false, true, true, true};
    PracticeSettings s;
    // An empty box is the setting's default.
    const double empty[kPracticeBoxes] = {0, 0, s.countInBpm, 0, s.trainerStep, double(s.trainerPassesPerStep), 0, 0};
    double v[kPracticeBoxes];
    auto tell = [this](const QString& text) {
        services::MsgBox(text, services::MsgButtons::OK, services::MsgIcon::None, QString(), this);
    };
    // "1.5x": the pause as a multiple of the pass's heard length.
    QString pauseText = m_txtPractice[Pause]->text().trimmed();
    const bool byLength = pauseText.endsWith(u'x', Qt::CaseInsensitive);
    if (byLength) pauseText.chop(1);
    for (int i = 0; i < kPracticeBoxes; ++i) {
        const QString text = i == Pause ? pauseText.trimmed() : m_txtPractice[i]->text().trimmed();
        const std::optional<double> n = text.isEmpty() ? empty[i] : numtext::parse(text);
        if (!n || (whole[i] && *n != std::trunc(*n))) {
            tell(QStringLiteral("%1 must be %2.")
                     .arg(QLatin1String(names[i]), whole[i] ? QStringLiteral("a whole number") : QStringLiteral("a number")));
            m_txtPractice[i]->setFocus();
            m_txtPractice[i]->selectAll();
            return false;
        }
        v[i] = *n;
    }
    // Whole numbers far out of bounds stay out of bounds, not wrapped.
    auto count = [&](PracticeBox box) { return qint32(std::clamp(v[box], -1e6, 1e6)); };
    (byLength ? s.pauseFactor : s.pause) = v[Pause];
    s.countInClicks = count(Clicks);
    s.countInBpm = v[Bpm];
    s.countInWhen = m_chkEveryPass->isChecked() ? PracticeSettings::CountInWhen::EveryPass
                                                : PracticeSettings::CountInWhen::First;
    if (m_chkTrainerBpm->isChecked()) {
        const double tempo = trainerTempo();
        if (tempo <= 0) {
            tell(QStringLiteral("The trainer's beats a minute need the file's beats, which are not known yet."));
            return false;
        }
        for (PracticeBox box : {TrainerStart, TrainerStep})
            if (!m_txtPractice[box]->text().trimmed().isEmpty()) v[box] = beats::rateForBpm(v[box], tempo);
    }
    // A count-in on the beats needs no typed clicks: a bar of them plays until beats are known.
    s.countInAuto = m_chkAutoCountIn->isChecked();
    if (s.countInAuto && s.countInClicks == 0) s.countInClicks = practice::kAutoCountInClicks;
    s.metronome = m_chkMetronome->isChecked();
    s.trainerStartRate = v[TrainerStart];
    s.trainerStep = v[TrainerStep];
    s.trainerPassesPerStep = count(TrainerPasses);
    s.transposeSemitones = count(Semitones);
    s.transposeCents = count(Cents);
    const std::optional<HearSettings> hear = storage::hearOf(m_txtHear->text());
    if (!hear) {
        tell(QStringLiteral("Hear: a band from 20 to 20000 Hz, its low cut below its high cut, then cancel or keep, "
                            "then left, right or mono (not mono with cancel), then a gain from -24 to +24 dB; "
                            "for example: 200-4000 cancel left +6dB."));
        m_txtHear->setFocus();
        return false;
    }
    s.hear = *hear;
    s.stems = m_stemsList->stems();
    if (const QString problem = storage::practiceProblem(s); !problem.isEmpty()) {
        tell(problem);
        return false;
    }
    out = s;
    return true;
}

// ---- Opening and closing -------------------------------------------------------------

void frmEdit::LoadAdd(const QString& strFileName, const QString& strStart, const QString& strStop,
                      const QString& strRate, const QString& strLoops, QWidget* Daddy)
{
    load(QStringLiteral("Add New List Entry"), strFileName, strStart, strStop, strRate, strLoops, Daddy, {}, {});
}

void frmEdit::LoadEdit(const QString& strFileName, const QString& strStart, const QString& strStop,
                       const QString& strRate, const QString& strLoops, QWidget* Daddy, const PracticeSettings& practice,
                       const QString& text)
{
    load(QStringLiteral("Edit List Entry"), strFileName, strStart, strStop, strRate, strLoops, Daddy, practice, text);
}

void frmEdit::load(const QString& caption, const QString& file, const QString& start, const QString& stop,
                   const QString& rate, const QString& loops, QWidget* daddy, const PracticeSettings& practice,
                   const QString& text)
{
    if (!m_loaded) Form_Load(daddy);
    setWindowTitle(caption);
    m_txtFileName->setText(file);
    m_txtStart->setText(start);
    m_txtStop->setText(stop);
    m_txtRate->setText(rate);
    m_txtLoops->setText(loops);
    showPractice(practice);
    m_txtText->setText(text);
    m_txtText->setCursorPosition(0);
    show();
    raise();
    activateWindow();
    m_txtFileName->setFocus();
}

void frmEdit::Form_Load(QWidget* daddy)
{
    m_loaded = true;
    if (daddy && parentWidget() != daddy) setParent(daddy, windowFlags());
    // Under the control panel, unless a stored place says otherwise (also at the first
    // start, where the general default would put it over the player window).
    services::Placement under = services::kDefaultPlacement;
    if (daddy) {
        const QRect panel = daddy->frameGeometry();
        under.left = services::pixelsToTwips(panel.left());
        under.top = services::pixelsToTwips(panel.top() + panel.height()) + 50;
        // Wholly on the screen, its frame (drawn as the panel's) too: not every window
        // manager pulls a window back on.
        const QScreen* screen = daddy->screen();
        if (screen) {
            const int outer = height() + panel.height() - daddy->height();
            const int highest = screen->availableGeometry().bottom() + 1 - outer;
            under.top = std::max(0.0, std::min(under.top, services::pixelsToTwips(highest)));
        }
    }
    services::RestoreFormPlacement(this, under);
}

void frmEdit::Form_Unload()
{
    if (!m_loaded) return;
    m_loaded = false;
    services::SaveFormPlacement(this);
    // The window's test player and its loop go with the window.
    m_tmrLooper->stop();
    m_player->control()->clearLoop();
    m_player->control()->Stop();
    m_player->control()->setFileName(QString());
    m_btnTest->setDefault(false);
    if (QWidget* panel = parentWidget()) {
        panel->activateWindow();
        panel->setFocus();
    }
}

void frmEdit::cmdCancel_Click() { reject(); }

// Close, Esc and the close box all end here.
void frmEdit::reject()
{
    Form_Unload();
    QDialog::reject();
    // The keyboard goes back to the grid, not nowhere.
    if (forms::hasPlayList()) forms::frmPlayList()->takeKeyboard();
}

void frmEdit::closeEvent(QCloseEvent* event)
{
    QDialog::closeEvent(event);
}

// ---- Checking and handing on -----------------------------------------------------------

bool frmEdit::ValidateEntry()
{
    // A box that does not convert ends the check silently; the fields before it keep
    // their new values.
    if (!numtext::assignIfParsed(numtext::parseZeroPrefixed(m_txtStart->text()), mdblEditStart)) return false;
    if (!numtext::assignIfParsed(numtext::parseZeroPrefixed(m_txtStop->text()), mdblEditStop)) return false;
    if (!numtext::assignIfParsed(numtext::parseZeroPrefixed(m_txtRate->text()), mdblEditRate)) return false;
    if (!numtext::assignIfParsed(numtext::parseZeroPrefixed(m_txtLoops->text()), mdblEditLoops)) return false;
    if (mdblEditRate == 0) mdblEditRate = 1;
    if (mdblEditLoops == 0) mdblEditLoops = 1;
    if (m_txtFileName->text().trimmed().isEmpty()) {
        services::MsgBox(QStringLiteral("Cannot add with out a File"), services::MsgButtons::OK,
                         services::MsgIcon::None, QString(), this);
        return false;
    }
    if (mdblEditStart > mdblEditStop) {
        services::MsgBox(
            QStringLiteral("Stop Position cannot be before Start position!\nCannot play in Reverse in this version."),
            services::MsgButtons::OK, services::MsgIcon::None, QString(), this);
        return false;
    }
    return readPractice(mEditPractice);
}

void frmEdit::cmdOK_Click()
{
    if (!ValidateEntry()) return;
    forms::frmPlayList()->AddListEntry(m_txtFileName->text().trimmed(), mdblEditStart, mdblEditStop, mdblEditRate,
                                       mdblEditLoops, false, mEditPractice, m_txtText->text());
}

void frmEdit::cmdApply_Click()
{
    if (!ValidateEntry()) return;
    forms::frmPlayList()->EditListEntry(m_txtFileName->text().trimmed(), mdblEditStart, mdblEditStop, mdblEditRate,
                                        mdblEditLoops, false, mEditPractice, m_txtText->text());
}

void frmEdit::txtLoops_LostFocus()
{
    if (numtext::leadingNumber(QStringLiteral("0") + m_txtLoops->text()) == 0) m_txtLoops->setText(QStringLiteral("1"));
}

void frmEdit::txtRate_LostFocus()
{
    if (numtext::leadingNumber(m_txtRate->text()) == 0) m_txtRate->setText(QStringLiteral("1"));
}

// ---- Test player and position tools ------------------------------------------------------

void frmEdit::stemsChanged(bool sameFiles)
{
    // The test playing goes on with the list as it is now: new levels are a remix from the
    // frame heard, other files the entry's new settings.
    if (m_player->control()->PlayState() != engine::PlayState::Playing) return;
    mTestPractice.stems = m_stemsList->stems();
    if (sameFiles) m_player->control()->engine()->setStemMix(mTestPractice.stems);
    else m_player->control()->engine()->setPractice(mTestPractice, engine::MediaEngine::kGoOn);
}

void frmEdit::btnTest_Click()
{
    const QString file = m_txtFileName->text();
    // The test plays the entry as it would be kept, practice settings too.
    if (!readPractice(mTestPractice)) return;
    numtext::assignIfParsed(numtext::parse(m_txtStart->text()), mdblTestStart);
    numtext::assignIfParsed(numtext::parse(m_txtStop->text()), mdblTestStop);
    m_player->control()->Stop();

    if (!file.isEmpty()) {
        if (!services::MediaFileFound(file, this, kNotFoundTitle)) return;
        m_player->control()->engine()->setPractice(mTestPractice, 0);
        if (const auto start = numtext::parse(m_txtStart->text())) m_player->control()->setCurrentPosition(*start);
        if (const auto rate = numtext::parse(m_txtRate->text())) m_player->control()->setRate(*rate);
        // The engine repeats the stretch itself; the timer stays as the fallback and the
        // slider's follower.
        m_player->control()->setLoop({mdblTestStart, mdblTestStop, engine::LoopRange::kEndless, false});
        if (m_player->control()->FileName() != file) m_player->control()->setFileName(file);
        else m_player->control()->Play();
        if (!m_player->control()->failed()) m_tmrLooper->start();
    }
    m_btnTest->setDefault(true);
}

void frmEdit::tmrLooper_Timer()
{
    if (m_player->control()->CurrentPosition() >= mdblTestStop) m_player->control()->setCurrentPosition(mdblTestStart);
    if (m_player->control()->PlayState() == engine::PlayState::Playing) {
        mblnSliderBusy = true;
        const double duration = m_player->control()->Duration();
        if (duration > 0) {
            const double value = std::nearbyint(m_player->control()->CurrentPosition() / duration * 101.0);
            if (value >= 0 && value <= 100) m_sldPos->setValue(int(value));
        }
        mblnSliderBusy = false;
    }
}

void frmEdit::MediaPlayer1_PlayStateChange(engine::PlayState, engine::PlayState newState)
{
    if (newState == engine::PlayState::Stopped) m_tmrLooper->stop();
}

void frmEdit::sldPos_Change()
{
    if (mblnSliderBusy) return;
    mblnSliderBusy = true;
    m_player->control()->setCurrentPosition(m_sldPos->value() / 101.0 * m_player->control()->Duration());
    mblnSliderBusy = false;
}

void frmEdit::lblMad_Click(int index)
{
    if (index < 0 || index > 5) return;
    panel::frmPlayList* panel = forms::frmPlayList();
    QLineEdit* target = index < 3 ? m_txtStart : m_txtStop;
    switch (index % 3) {
    case 0: target->setText(panel->txtM1()->text()); break;
    case 1: target->setText(panel->txtM2()->text()); break;
    case 2: target->setText(numtext::format(m_player->control()->CurrentPosition())); break;
    }
    // A long number shows its beginning, not its last digits.
    target->setCursorPosition(0);
}

void frmEdit::btnBrowse_Click()
{
    QString proposed = m_txtFileName->text();
    const QString path = services::OpenMediaFile(proposed, QString(), QStringLiteral("File to open"), QString(), QString());
    if (path.isEmpty()) return;
    m_txtFileName->setText(path);
    if (!services::MediaFileFound(path, this, kNotFoundTitle)) return;
    if (m_player->control()->FileName() != path) {
        m_player->control()->Stop();
        m_player->control()->setFileName(path);
    }
    m_txtStart->setText(numtext::format(m_player->control()->CurrentPosition()));
    m_txtStop->setText(numtext::format(m_player->control()->Duration()));
}

bool frmEdit::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease)
        for (int i = 0; i < 6; ++i)
            if (watched == m_lblMad[i]) {
                lblMad_Click(i);
                return true;
            }
    return QDialog::eventFilter(watched, event);
}

double frmEdit::trainerTempo() const
{
    const beats::BeatSource* source = m_waveform->beats();
    if (source->file() != m_txtFileName->text().trimmed() || source->grid().beats.size() < 2) return 0;
    return source->grid().tempoAt(numtext::parse(m_txtStart->text()).value_or(0));
}

void frmEdit::trainerUnitChanged(bool bpm)
{
    const double tempo = trainerTempo();
    if (tempo <= 0) {
        const QSignalBlocker quiet(m_chkTrainerBpm);
        m_chkTrainerBpm->setChecked(false);
        if (bpm)
            QToolTip::showText(m_chkTrainerBpm->mapToGlobal(QPoint(0, 0)),
                               QStringLiteral("No beats known for this file yet: the trainer stays in rates"), m_chkTrainerBpm);
        return;
    }
    for (PracticeBox box : {TrainerStart, TrainerStep}) {
        const auto v = numtext::parse(m_txtPractice[box]->text().trimmed());
        if (v) m_txtPractice[box]->setText(numtext::format(bpm ? beats::bpmForRate(*v, tempo) : beats::rateForBpm(*v, tempo)));
    }
}


void frmEdit::buildBeats()
{
    QAction* snap = playback::snapToBeats();
    connect(snap, &QAction::toggled, m_waveform, &waveform::WaveformView::setSnapping);
    m_waveform->setSnapping(snap->isChecked());
    // A bar starts where the test player is, else at the handle in use.
    auto* menu = new windows::BeatMenu(
        m_waveform, snap,
        [this] { return m_waveform->playhead() >= 0 ? m_waveform->playhead() : m_waveform->handle(m_waveform->activeHandle()); },
        [this] { return m_player->control()->Rate(); }, this);
    QAction* before = menu->actions().value(1);
    auto add = [&](const QString& caption, QKeySequence key, auto run) {
        auto* a = new QAction(caption, menu);
        a->setShortcut(key);
        connect(a, &QAction::triggered, this, run);
        menu->insertAction(before, a);
        addAction(a);
    };
    add(QStringLiteral("Snap the &Position Box to the Beat"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B),
        [this] { snapFocusedBox(); });
    add(QStringLiteral("&Start at the Bar Heard"), QKeySequence(Qt::ALT | Qt::Key_0), [this] { startAtBarHeard(); });
    for (const int n : {1, 2, 4, 8})
        add(n == 1 ? QStringLiteral("Stop &1 Bar after Start") : QStringLiteral("Stop &%1 Bars after Start").arg(n),
            QKeySequence(Qt::ALT | Qt::Key(Qt::Key_0 + n)), [this, n] { stopAfterBars(n); });
    menu->insertSeparator(before);
    m_btnBeats = makeButton(this, twipsRect(6360, 1020, 1095, 375), QStringLiteral("&Beats"),
                            QStringLiteral("Snapping to the beats, loops of whole bars, and corrections of the beats found"));
    m_btnBeats->setAccessibleName(QStringLiteral("Beats"));
    m_btnBeats->setMenu(menu);
}

const beats::BeatGrid* frmEdit::beatsKnown()
{
    const beats::BeatGrid& grid = m_waveform->beats()->grid();
    if (grid.beats.size() >= 2) return &grid;
    QToolTip::showText(m_waveform->mapToGlobal(QPoint(m_waveform->width() / 2, 0)),
                       QStringLiteral("No beats known for this file yet"), m_waveform);
    return nullptr;
}

void frmEdit::stopAfterBars(int bars)
{
    const beats::BeatGrid* grid = beatsKnown();
    const auto start = numtext::parse(m_txtStart->text());
    if (!grid || !start) return;
    if (const auto stop = beats::stopAfterBars(*grid, *start, bars)) m_txtStop->setText(numtext::format(beats::toMillisecond(*stop)));
}

void frmEdit::startAtBarHeard()
{
    const beats::BeatGrid* grid = beatsKnown();
    const double heard = m_waveform->playhead();
    if (!grid || heard < 0) return;
    if (const auto bar = beats::barsAt(*grid, heard, 1)) m_txtStart->setText(numtext::format(beats::toMillisecond(std::max(0.0, bar->start))));
}

void frmEdit::snapFocusedBox()
{
    const beats::BeatGrid* grid = beatsKnown();
    QLineEdit* box = m_txtStop->hasFocus() || (!m_txtStart->hasFocus() && m_waveform->activeHandle() == waveform::WaveformView::Stop)
                         ? m_txtStop : m_txtStart;
    const auto at = numtext::parse(box->text());
    if (grid && at) box->setText(numtext::format(beats::toMillisecond(grid->snap(*at))));
}

} // namespace editor
