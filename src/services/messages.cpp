#include "services/messages.h"

#include "app/globals.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace services {
namespace {

MessageAnswer g_messageAnswer;
InputAnswer g_inputAnswer;
FileAnswer g_fileAnswer;

QString titleOr(const QString& title)
{
    return title.isEmpty() ? QString::fromLatin1(app::kAppTitle) : title;
}

struct ButtonDef { QMessageBox::StandardButton button; int result; };

QList<ButtonDef> buttonsOf(MsgButtons set)
{
    switch (set) {
    case MsgButtons::OK: return {{QMessageBox::Ok, vbOK}};
    case MsgButtons::OKCancel: return {{QMessageBox::Ok, vbOK}, {QMessageBox::Cancel, vbCancel}};
    case MsgButtons::AbortRetryIgnore:
        return {{QMessageBox::Abort, vbAbort}, {QMessageBox::Retry, vbRetry}, {QMessageBox::Ignore, vbIgnore}};
    case MsgButtons::YesNoCancel:
        return {{QMessageBox::Yes, vbYes}, {QMessageBox::No, vbNo}, {QMessageBox::Cancel, vbCancel}};
    case MsgButtons::YesNo: return {{QMessageBox::Yes, vbYes}, {QMessageBox::No, vbNo}};
    case MsgButtons::RetryCancel: return {{QMessageBox::Retry, vbRetry}, {QMessageBox::Cancel, vbCancel}};
    }
    return {{QMessageBox::Ok, vbOK}};
}

QMessageBox::Icon iconOf(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Critical: return QMessageBox::Critical;
    case MsgIcon::Question: return QMessageBox::Question;
    case MsgIcon::Exclamation: return QMessageBox::Warning;
    case MsgIcon::Information: return QMessageBox::Information;
    case MsgIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

int MsgBox(const QString& text, MsgButtons buttons, MsgIcon icon, const QString& title, QWidget* parent,
           int defaultButton)
{
    MessageRequest request{text, titleOr(title), buttons, icon, defaultButton};
    if (g_messageAnswer) return g_messageAnswer(request);

    QMessageBox box(iconOf(icon), request.title, text, QMessageBox::NoButton, parent);
    const auto defs = buttonsOf(buttons);
    QList<QPair<QAbstractButton*, int>> made;
    for (const auto& def : defs) made.append({box.addButton(def.button), def.result});
    if (defaultButton >= 1 && defaultButton <= made.size())
        box.setDefaultButton(qobject_cast<QPushButton*>(made[defaultButton - 1].first));
    box.exec();
    for (const auto& [button, result] : made)
        if (box.clickedButton() == button) return result;
    // Closed by Esc or the close box: the cancel-like answer, else the only button.
    for (const auto& def : defs)
        if (def.result == vbCancel || def.result == vbNo) return def.result;
    return defs.front().result;
}

QString InputBox(const QString& prompt, const QString& title, const QString& defaultText, QWidget* parent)
{
    InputRequest request{prompt, titleOr(title), defaultText};
    if (g_inputAnswer) return g_inputAnswer(request);
    bool ok = false;
    const QString text = QInputDialog::getText(parent, request.title, prompt, QLineEdit::Normal, defaultText, &ok);
    return ok ? text : QString();
}

QString FileDialog(const FileDialogRequest& request, QWidget* parent)
{
    if (g_fileAnswer) return g_fileAnswer(request);
    QFileDialog dialog(parent, request.title, request.folder);
    switch (request.kind) {
    case FileDialogKind::Open:
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        break;
    case FileDialogKind::Save:
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
        break;
    case FileDialogKind::Folder:
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        break;
    }
    if (!request.filters.isEmpty()) {
        dialog.setNameFilters(request.filters);
        dialog.selectNameFilter(request.filters.value(request.filterIndex, request.filters.front()));
    }
    if (!request.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.fileName.isEmpty()) dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.front();
}

void setMessageAnswer(MessageAnswer answer) { g_messageAnswer = std::move(answer); }
void setInputAnswer(InputAnswer answer) { g_inputAnswer = std::move(answer); }
void setFileAnswer(FileAnswer answer) { g_fileAnswer = std::move(answer); }

} // namespace services
