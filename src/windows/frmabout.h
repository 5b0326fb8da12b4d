#pragma once
// The About box: name, version, description and legal notice, the system-information tool,
// the home page behind the program's picture, and dots scattered over the drawing area.
#include <QColor>
#include <QDialog>
#include <QImage>
#include <QPointF>
#include <functional>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace about {

// The user guide: installed beside the program, or the one of the source tree it was
// built from; empty when there is none.
QString userGuidePath();

inline constexpr const char* kDescription =
    "Listen to music or watch videos and skip certain parts, or just watch one part over and over again.";

inline constexpr const char* kLegalNotice =
    "Vamplet is free software: you may pass it on and change it under the terms of the GNU "
    "General Public License, version 3 or later. It comes without warranty of any kind; you use "
    "it at your own risk.";

inline constexpr const char* kSysInfoUnavailable = "System Information Is Unavailable At This Time";

// "Version 5.2" for version 5.2; the revision is not shown.
QString versionLine(int major, int minor);

// Colour `number` (0 to 15) of the classic 16-colour palette; black outside it.
QColor QBColor(int number);

// The system beep; tests count it instead.
void setBeepHandler(std::function<void()> handler);

class frmAbout : public QDialog {
    Q_OBJECT
public:
    // Closing the window deletes it: every opening loads it anew.
    explicit frmAbout(QWidget* owner = nullptr);
    ~frmAbout() override;

    void Form_Load();
    void cmdOK_Click();
    void cmdSysInfo_Click();
    void picIcon_Click();
    void Timer1_Timer();
    void Form_Click();
    void Picture1_Click();

    void StartSysInfo();
    // Beeps, clears the drawing and starts the dots anew; they go on until the window hides.
    void AnimateDots();
    // One dot of the animation; the dot timer calls it.
    void DotTimer_Timer();
    // Draws one dot at (sngX, sngY) points in colour `intColor` of the 16-colour palette.
    void KelDotAt(double sngX, double sngY, int intColor);

    struct Dot {
        QPointF at;        // points
        int penWidth = 0;  // pixels
        int colorNumber = -1;
    };
    const Dot& lastDot() const { return m_lastDot; }
    // What the drawing area shows.
    const QImage& drawing() const { return m_drawing; }
    // Where random numbers in [0, 1) for the dots' places come from.
    void setRandomSource(std::function<double()> source);

    QLabel* picIcon() const { return m_picIcon; }
    QWidget* Picture1() const { return m_picture1; }
    QWidget* Picture2() const { return m_picture2; }
    QWidget* Picture3() const { return m_picture3; }
    QLabel* lblTitle() const { return m_lblTitle; }
    QLabel* lblVersion() const { return m_lblVersion; }
    QLabel* lblDescription() const { return m_lblDescription; }
    QPlainTextEdit* txtDisclaimer() const { return m_txtDisclaimer; }
    QPushButton* cmdOK() const { return m_cmdOK; }
    QPushButton* cmdSysInfo() const { return m_cmdSysInfo; }
    QTimer* Timer1() const { return m_timer1; }
    QTimer* DotTimer() const { return m_dotTimer; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void clearDrawing();

    QLabel* m_picIcon = nullptr;
    QWidget* m_picture1 = nullptr;
    QWidget* m_picture2 = nullptr;
    QWidget* m_picture3 = nullptr;
    QLabel* m_lblTitle = nullptr;
    QLabel* m_lblVersion = nullptr;
    QLabel* m_lblDescription = nullptr;
    QPlainTextEdit* m_txtDisclaimer = nullptr;
    QPushButton* m_cmdOK = nullptr;
    QPushButton* m_cmdSysInfo = nullptr;
    QTimer* m_timer1 = nullptr;
    QTimer* m_dotTimer = nullptr;

    QImage m_drawing;
    int m_step = 1;
    int m_penWidth = 5;
    Dot m_lastDot;
    std::function<double()> m_random;
};

} // namespace about
