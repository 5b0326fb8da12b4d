#pragma once
// Every message box, input box and file dialog of the program passes through here, so
// that tests can answer them without a person.
#include <QString>
#include <QStringList>
#include <functional>

class QMessageBox;
class QPushButton;
class QWidget;

namespace services {

enum class MsgButtons { OK = 0, OKCancel = 1, AbortRetryIgnore = 2, YesNoCancel = 3, YesNo = 4, RetryCancel = 5 };
enum class MsgIcon { None = 0, Critical = 16, Question = 32, Exclamation = 48, Information = 64 };

// Result codes of the platform's message box.
enum MsgResult { vbOK = 1, vbCancel = 2, vbAbort = 3, vbRetry = 4, vbIgnore = 5, vbYes = 6, vbNo = 7 };

struct MessageRequest {
    QString text;
    QString title;
    MsgButtons buttons = MsgButtons::OK;
    MsgIcon icon = MsgIcon::None;
    int defaultButton = 1;  // 1-based position of the default button
    // Captions by button position, replacing the platform's; an empty entry keeps its caption.
    QStringList captions;
};

// Result codes of a set's buttons in the box's own order (Abort, Retry, Ignore).
QList<int> buttonResults(MsgButtons set);

// Called with the live box and its buttons in the set's order, just before the box appears.
using BoxSetup = std::function<void(QMessageBox& box, const QList<QPushButton*>& buttons)>;

// The one way a message box is shown: answered by the test seam when one is set, else a modal
// platform box with the set's buttons left to right in the set's order. Returns the result code
// of the button pressed. An empty title means the application's title.
int ShowMessage(const MessageRequest& request, QWidget* parent = nullptr, const BoxSetup& setup = {});

// The "Not Found!" box when `path` names no usable media file (false after it is closed);
// true, with nothing shown, for a usable one. Entries are fixed under the default title.
bool MediaFileFound(const QString& path, QWidget* parent, const QString& title = QStringLiteral("Please Fix this Entry!"));
// The "Not Found!" box itself, for a file found unusable elsewhere.
void TellNotFound(const QString& path, QWidget* parent, const QString& title = QStringLiteral("Please Fix this Entry!"));

// The box for a file that was found but cannot be played, and why.
inline constexpr const char* kCannotPlayTitle = "Cannot Play This File";
QString cannotPlayText(const QString& path, const QString& reason);
void TellCannotPlay(const QString& path, const QString& reason, QWidget* parent);

// Shows a message box; an empty title means the application's title.
int MsgBox(const QString& text, MsgButtons buttons = MsgButtons::OK, MsgIcon icon = MsgIcon::None,
           const QString& title = {}, QWidget* parent = nullptr, int defaultButton = 1);

struct InputRequest {
    QString prompt;
    QString title;
    QString defaultText;
};

// Returns the text entered, or an empty string when the user cancels.
QString InputBox(const QString& prompt, const QString& title = {}, const QString& defaultText = {},
                 QWidget* parent = nullptr);

enum class FileDialogKind { Open, Save, Folder };

struct FileDialogRequest {
    FileDialogKind kind = FileDialogKind::Open;
    QString title;
    QString folder;        // initial folder
    QString fileName;      // proposed file name
    QStringList filters;   // Qt filter strings
    int filterIndex = 0;   // 0-based filter selected when the dialog opens
    QString defaultSuffix; // appended to a typed name without an extension
    bool confirmOverwrite = true;  // save: ask before replacing an existing file
};

// Returns the chosen path, or an empty string when the user cancels.
QString FileDialog(const FileDialogRequest& request, QWidget* parent = nullptr);
// Several existing files at once (a test's answer names them one a line); none when cancelled.
QStringList OpenFilesDialog(const FileDialogRequest& request, QWidget* parent = nullptr);

// A test stands in for the user: every request is handed to these instead of a dialog.
// Passing empty functions restores the real dialogs.
using MessageAnswer = std::function<int(const MessageRequest&)>;
using InputAnswer = std::function<QString(const InputRequest&)>;
using FileAnswer = std::function<QString(const FileDialogRequest&)>;
void setMessageAnswer(MessageAnswer answer);
void setInputAnswer(InputAnswer answer);
void setFileAnswer(FileAnswer answer);

} // namespace services
