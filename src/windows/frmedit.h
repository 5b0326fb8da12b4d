#pragma once
// The entry editor: one entry's file, start, stop, rate and loops, checked and handed to
// the control panel, with a test player of its own to find the positions.
#include "app/practice.h"

#include <QDialog>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTimer;

namespace playback { class MediaPlayer; }
namespace engine { enum class PlayState; }
namespace waveform { class WaveformView; }
namespace beats { struct BeatGrid; }

namespace editor {

class StemsList;

class frmEdit : public QDialog {
    Q_OBJECT
public:
    explicit frmEdit(QWidget* parent = nullptr);
    ~frmEdit() override;

    void LoadAdd(const QString& strFileName, const QString& strStart, const QString& strStop,
                 const QString& strRate, const QString& strLoops, QWidget* Daddy);
    void LoadEdit(const QString& strFileName, const QString& strStart, const QString& strStop,
                  const QString& strRate, const QString& strLoops, QWidget* Daddy,
                  const PracticeSettings& practice = {}, const QString& text = {});

    void cmdOK_Click();
    void cmdApply_Click();
    void cmdCancel_Click();
    void txtLoops_LostFocus();
    void txtRate_LostFocus();

    void btnTest_Click();
    void tmrLooper_Timer();
    void sldPos_Change();
    void lblMad_Click(int index);
    void btnBrowse_Click();

    // Values handed on by the last check.
    double mdblEditStart = 0;
    double mdblEditStop = 0;
    double mdblEditRate = 0;
    double mdblEditLoops = 0;
    PracticeSettings mEditPractice;
    // The stretch the test repeats.
    double mdblTestStart = 0;
    double mdblTestStop = 0;
    bool mblnSliderBusy = false;
    // The settings the test plays with; the test player does not play them yet.
    PracticeSettings mTestPractice;

    QLineEdit* txtFileName() const { return m_txtFileName; }
    QLineEdit* txtStart() const { return m_txtStart; }
    QLineEdit* txtStop() const { return m_txtStop; }
    QLineEdit* txtRate() const { return m_txtRate; }
    QLineEdit* txtLoops() const { return m_txtLoops; }
    // The entry's line or label.
    QLineEdit* txtText() const { return m_txtText; }
    // The practice boxes: pause, count-in clicks and tempo, trainer start, step and passes,
    // transpose semitones and cents.
    enum PracticeBox { Pause, Clicks, Bpm, TrainerStart, TrainerStep, TrainerPasses, Semitones, Cents, kPracticeBoxes };
    QLineEdit* txtPractice(PracticeBox box) const { return m_txtPractice[box]; }
    QCheckBox* chkEveryPass() const { return m_chkEveryPass; }
    // The trainer's start and step in beats a minute of the file at the entry's start, kept
    // as rates.
    QCheckBox* chkTrainerBpm() const { return m_chkTrainerBpm; }
    QCheckBox* chkAutoCountIn() const { return m_chkAutoCountIn; }
    QCheckBox* chkMetronome() const { return m_chkMetronome; }
    StemsList* stemsList() const { return m_stemsList; }
    QPushButton* btnTest() const { return m_btnTest; }
    QPushButton* btnBeats() const { return m_btnBeats; }
    QPushButton* cmdOK() const { return m_cmdOK; }
    QPushButton* cmdCancel() const { return m_cmdCancel; }
    QSlider* sldPos() const { return m_sldPos; }
    QTimer* tmrLooper() const { return m_tmrLooper; }
    QLabel* lblMad(int index) const { return m_lblMad[index]; }
    playback::MediaPlayer* MediaPlayer1() const { return m_player; }
    waveform::WaveformView* waveform() const { return m_waveform; }
    bool isLoadedWindow() const { return m_loaded; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void load(const QString& caption, const QString& file, const QString& start, const QString& stop,
              const QString& rate, const QString& loops, QWidget* daddy, const PracticeSettings& practice,
              const QString& text);
    void Form_Load(QWidget* daddy);
    void Form_Unload();
    bool ValidateEntry();
    void buildPractice(QWidget* frame);
    // The "Beats" button: snapping, whole bars, corrections of the file's beats.
    void buildBeats();
    // Where the editor's waveform has its file's beats; nullptr (and the user told) without.
    const beats::BeatGrid* beatsKnown();
    void stopAfterBars(int bars);
    void startAtBarHeard();
    void snapFocusedBox();
    // The file's tempo at the start box's position; 0 while its beats are not known.
    double trainerTempo() const;
    // The trainer's start and step boxes rewritten in the unit the check box says.
    void trainerUnitChanged(bool bpm);
    void showPractice(const PracticeSettings& practice);
    // The boxes as settings; false, once the user is told which box and why, when they cannot be kept.
    bool readPractice(PracticeSettings& out);
    // The stems list changed by the user: heard at once in the test playing.
    void stemsChanged(bool sameFiles);
    void MediaPlayer1_PlayStateChange(engine::PlayState oldState, engine::PlayState newState);

    QGroupBox* m_framEdit = nullptr;
    QLineEdit* m_txtFileName = nullptr;
    QLineEdit* m_txtStart = nullptr;
    QLineEdit* m_txtStop = nullptr;
    QLineEdit* m_txtRate = nullptr;
    QLineEdit* m_txtLoops = nullptr;
    QLineEdit* m_txtText = nullptr;
    QLineEdit* m_txtPractice[kPracticeBoxes] = {};
    QLineEdit* m_txtHear = nullptr;
    StemsList* m_stemsList = nullptr;
    QCheckBox* m_chkEveryPass = nullptr;
    QCheckBox* m_chkTrainerBpm = nullptr;
    QCheckBox* m_chkAutoCountIn = nullptr;
    QCheckBox* m_chkMetronome = nullptr;
    QPushButton* m_btnBrowse = nullptr;
    QPushButton* m_cmdOK = nullptr;
    QPushButton* m_cmdApply = nullptr;
    QPushButton* m_btnTest = nullptr;
    QPushButton* m_btnBeats = nullptr;
    QPushButton* m_cmdCancel = nullptr;
    QLabel* m_lblMad[6] = {};
    QSlider* m_sldPos = nullptr;
    QTimer* m_tmrLooper = nullptr;
    playback::MediaPlayer* m_player = nullptr;
    waveform::WaveformView* m_waveform = nullptr;
    bool m_loaded = false;
};

} // namespace editor
