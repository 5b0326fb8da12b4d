#pragma once
// The file and folder dialogs: a property bag the caller fills, then Show or GetDirectory.
#include <QString>
#include <QStringList>

class QWidget;

namespace services {

// "Description|*.a;*.b|..." as the dialog's own filter list ("Description (*.a *.b)").
QStringList dialogFilters(const QString& filter);

// NULs become blanks, then blanks are trimmed at both ends.
QString TrimNulls(const QString& strText);

class clsKelDialogs {
public:
    // Option bits of the file dialogs.
    static constexpr qint32 kFileMustExist = 0x1000;
    static constexpr qint32 kOverwritePrompt = 0x2;

    QString DefaultExt;
    QString DialogTitle;
    QString FileName;   // in: proposed name; out: the full path chosen
    QString FileTitle;  // out: the chosen file's name without its folder
    QString Filter;
    qint16 FilterIndex = 0;  // 1-based; 0 = the first
    qint32 Flags = 0;
    QWidget* hWndParent = nullptr;
    QString InitialDir;
    qint16 MaxFileSize = 260;

    // The open dialog (true) or the save dialog (false). False when cancelled; the
    // properties are then as they were.
    bool Show(bool doOpen);
    // The folder chooser; "" when cancelled. An empty title becomes "Choose Directory".
    QString GetDirectory(QString& strTitle);
};

// The media filter: every type the player takes, then each kind, then all files.
extern const char* const kMediaFilter;

// Asks for an existing media file. Returns its full path and writes its bare name back to
// strFileName; returns "" and leaves strFileName alone when cancelled.
QString OpenMediaFile(QString& strFileName, const QString& strFilter, const QString& strTitle,
                      const QString& strDefaultExt, const QString& strInitialDir);
// The same with the save dialog, which asks before replacing a file.
QString SaveMediaFile(QString& strFileName, const QString& strFilter, const QString& strTitle,
                      const QString& strDefaultExt, const QString& strInitialDir);

} // namespace services
