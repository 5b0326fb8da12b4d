#pragma once
// The control panel: the playlist chooser, the entry grid and its commands, the position
// grabber and the rate box.
#include "app/entryrecord.h"

#include <QPixmap>
#include <QSet>
#include <QWidget>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;
class QToolButton;
class QTreeWidgetItem;

namespace playback { class EngineControl; class PlaybackFollow; struct LiveChange; }
namespace windows { class frmPlayer; }
namespace storage { struct LoopList; struct ReadNotice; struct WriteOutcome; }

namespace panel {

class EntryGrid;

class frmPlayList : public QWidget {
    Q_OBJECT
public:
    explicit frmPlayList(QWidget* owner = nullptr);
    ~frmPlayList() override;

    // The 1-based row of the entry last started; the list cursor.
    qint32 CurrentID = 0;

    // Store procedures.
    void ReLoadINI();
    void AddNewPlayList(const QString& strNewList);
    void btnPlO_Click(int index);
    void cboPlayListName_Click();
    void SavePlayList();

    // Entry commands.
    void MnuRightClick_Click(int index);
    // The row's practice settings and text come last; left out, the row has none.
    void AddListEntry(const QString& strFileName, double dblStart, double dblEnd, double dblRate, double dblCount,
                      bool ByPassSave = false, const PracticeSettings& practice = {}, const QString& text = {});
    void EditListEntry(const QString& strFileName, double dblStart, double dblEnd, double dblRate, double dblCount,
                       bool ByPassSave = false, const PracticeSettings& practice = {}, const QString& text = {});
    void MoveListEntry(bool blnUp);
    // The selected rows as one entry, in the first one's place.
    void MergeSelectedRows();
    // The selected row cut in two where the player is heard in it.
    void SplitAtHeard();
    // A live loop key changed a stretch: the rate box shows the rate, and the change's row
    // takes it and is saved.
    void WriteLiveChange(const playback::LiveChange& change);
    void TrayControl(int lngIndex);

    // Export (false) or import (true) of the shown playlist.
    void ExportImportPlayList(bool bImport);
    // Imports a playlist file or a loop list of another tool, by its extension.
    void ImportFile(const QString& path);
    // Files dropped on the grid: lists import, media files become whole-file entries.
    void DropFiles(const QStringList& paths);
    // Row `lngIndex` as numbers and settings; a cell that is no number reads 0.
    EntryRecord GetListEntry(qint32 lngIndex) const;
    // Where imported entries go: the shown playlist, a new one, or "" to give up.
    QString AskTargetPlayList(const QString& strCurrent);

    // Grid events.
    void lstSelector_ItemClick(QTreeWidgetItem* item);
    void lstSelector_DblClick();
    void lstSelector_RightPress(const QPoint& at);

    // Grabber, rate box and toggle.
    void Timer1_Timer();
    void btnM1a_Click();
    void btnM2a_Click();
    void btnM1r_Click();
    void btnM2r_Click();
    void txtRate_LostFocus();
    // A speed trainer's rate for the pass heard now.
    void showTrainerRate(double rate);
    void imgEnabler_Click(int index);
    void Form_Resize();
    // Where no tray icon can bring a minimised player back, the panel shows a button that does.
    void showPlayerButton(bool shown);
    QToolButton* btnShowPlayer() const { return m_btnShowPlayer; }
    // Gives the keyboard to the grid (a window that closed over the panel had it).
    void takeKeyboard();

    EntryGrid* lstSelector() const { return m_grid; }
    QComboBox* cboPlayListName() const { return m_chooser; }
    QMenu* RightClickMenu() const { return m_menu; }
    QMenu* LoopMenu() const { return m_loopMenu; }
    // The position display's timer: it runs while the grabber is open and something plays.
    QTimer* Timer1() const;
    bool grabberOpen() const;
    QLineEdit* txtCurPos() const { return m_txtCurPos; }
    QLineEdit* txtDuration() const { return m_txtDuration; }
    QLineEdit* txtM1() const { return m_txtM1; }
    QLineEdit* txtM2() const { return m_txtM2; }
    QLineEdit* txtRate() const { return m_txtRate; }
    QGroupBox* framGrabber() const { return m_framGrabber; }
    QGroupBox* framPL() const { return m_framPL; }
    QLabel* imgEnabler0() const { return m_imgEnabler0; }
    const QPixmap& imgEnablerPicture(int index) const { return m_pictures[index]; }
    QPushButton* btnPlO(int index) const { return index == 0 ? m_btnMinus : m_btnPlus; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildGrabber();
    void buildPlayList();
    void buildMenu();
    void buildRowEdits();
    void tell(const QString& text);
    QToolButton* frameButton(const QString& name, const QString& text, const QString& tip, int leftTwips);
    void fitCaptionStrip();
    void buildLoopMenu();
    void playSelected(int row, bool loop);
    bool showsPlayList() const;
    windows::frmPlayer* player() const;
    playback::EngineControl* control() const;
    void applyMinimumWidth();
    // The store's findings, each told once: a file that cannot be read or was cut, a
    // save that failed (until one succeeds), a file that cannot be written at start.
    void tellReadNotice(const storage::ReadNotice& notice);
    bool tellWriteOutcome(const storage::WriteOutcome& outcome);
    void tellIfNotWritable();
    storage::WriteOutcome exportLoopList(const QString& path, const QList<EntryRecord>& entries, QStringList& notes);
    bool readLoopList(const QString& path, QList<EntryRecord>& entries);
    // Subtitles or lyrics, drilled as the user answers; false when the answer was Cancel.
    bool readDrillList(const QString& path, storage::LoopList& list, bool& ok);

    QGroupBox* m_framGrabber = nullptr;
    QGroupBox* m_framPL = nullptr;
    QLabel* m_imgEnabler0 = nullptr;
    QPixmap m_pictures[4];
    qint64 m_shownPicture = 0;
    int m_barTop = 0;  // the window's own title bar, where it draws one, above the layout
    QLineEdit* m_txtCurPos = nullptr;
    QLineEdit* m_txtDuration = nullptr;
    QLineEdit* m_txtM1 = nullptr;
    QLineEdit* m_txtM2 = nullptr;
    QLineEdit* m_txtRate = nullptr;
    QComboBox* m_chooser = nullptr;
    QPushButton* m_btnPlus = nullptr;
    QPushButton* m_btnMinus = nullptr;
    EntryGrid* m_grid = nullptr;
    QMenu* m_menu = nullptr;
    QMenu* m_loopMenu = nullptr;
    QToolButton* m_btnShowPlayer = nullptr;
    QWidget* m_captionStrip = nullptr;
    playback::PlaybackFollow* m_timer1 = nullptr;
    bool m_reloading = false;
    bool m_rateTyped = false;  // the user typed in the rate box since the program last wrote it
    QSet<QString> m_toldUnreadable, m_toldCut, m_toldRefused;
    QString m_toldFailing;
};

} // namespace panel
