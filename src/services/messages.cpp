#include "services/messages.h"

#include "app/filecheck.h"
#include "app/globals.h"
#include "services/titlebar.h"
#include "services/wmbuttons.h"

#include <QFileDialog>
#include <QGridLayout>
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

// The box sizes itself to its text; a short text would leave its title cut in the title
// bar. Room for the title in a bold face, the window icon and up to three buttons (some
// window managers draw them all), with their gaps.
void widenForTitle(QMessageBox& box)
{
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid) return;
    QFont bold = box.font();
    bold.setBold(true);
    const QFontMetrics fm(bold);
    const int wanted = fm.horizontalAdvance(box.windowTitle()) + 10 * fm.height();
    grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), 0, 1,
                  grid->columnCount());
}

} // namespace

QList<int> buttonResults(MsgButtons set)
{
    QList<int> results;
    for (const auto& def : buttonsOf(set)) results.append(def.result);
    return results;
}

int ShowMessage(const MessageRequest& request, QWidget* parent, const BoxSetup& setup)
{
    MessageRequest asked = request;
    asked.title = titleOr(request.title);
    if (g_messageAnswer) return g_messageAnswer(asked);

    QMessageBox box(iconOf(asked.icon), asked.title, asked.text, QMessageBox::NoButton, parent);
    const auto defs = buttonsOf(asked.buttons);
    QList<QPushButton*> made;
    QPushButton* escape = nullptr;
    for (qsizetype i = 0; i < defs.size(); ++i) {
        // Made as a standard button for the platform's caption, then given one common role:
        // the platform's layouts sort roles (Abort would go last), a shared role keeps the set's order.
        QPushButton* button = box.addButton(defs[i].button);
        box.removeButton(button);
        box.addButton(button, QMessageBox::ActionRole);
        if (i < asked.captions.size() && !asked.captions[i].isEmpty()) button->setText(asked.captions[i]);
        if (defs[i].result == vbCancel) escape = button;
        made.append(button);
    }
    // Esc and the close box answer Cancel, or the only button; otherwise they do nothing.
    if (!escape && made.size() == 1) escape = made.front();
    box.setEscapeButton(escape);
    if (!escape) box.setWindowFlag(Qt::WindowCloseButtonHint, false);
    const int byDefault = (asked.defaultButton >= 1 && asked.defaultButton <= made.size()) ? asked.defaultButton : 1;
    box.setDefaultButton(made[byDefault - 1]);
    if (setup) setup(box, made);
    widenForTitle(box);
    addOwnTitleBar(&box);
    // A box is answered, not minimised or maximised: where the window manager ignores the
    // dialog's hints for those buttons (openbox) it is typed so that it offers none.
    keepToCloseOnly(&box);

    box.exec();
    for (qsizetype i = 0; i < made.size(); ++i)
        if (box.clickedButton() == made[i]) return defs[i].result;
    return escape ? defs[made.indexOf(escape)].result : defs.front().result;
}

int MsgBox(const QString& text, MsgButtons buttons, MsgIcon icon, const QString& title, QWidget* parent,
           int defaultButton)
{
    return ShowMessage(MessageRequest{text, title, buttons, icon, defaultButton, {}}, parent);
}

bool MediaFileFound(const QString& path, QWidget* parent, const QString& title)
{
    if (app::mediaFileUsable(path)) return true;
    TellNotFound(path, parent, title);
    return false;
}

void TellNotFound(const QString& path, QWidget* parent, const QString& title)
{
    MsgBox(QStringLiteral("Filename:\n'") + path + QStringLiteral("'\nNot Found!"), MsgButtons::OK, MsgIcon::Critical, title, parent);
}

QString cannotPlayText(const QString& path, const QString& reason)
{
    return QStringLiteral("Filename:\n'") + path + QStringLiteral("'\ncannot be played: ") + reason;
}

void TellCannotPlay(const QString& path, const QString& reason, QWidget* parent)
{
    MsgBox(cannotPlayText(path, reason), MsgButtons::OK, MsgIcon::Critical, QString::fromLatin1(kCannotPlayTitle), parent);
}

QString InputBox(const QString& prompt, const QString& title, const QString& defaultText, QWidget* parent)
{
    InputRequest request{prompt, titleOr(title), defaultText};
    if (g_inputAnswer) return g_inputAnswer(request);
    QInputDialog dialog(parent);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(request.title);
    dialog.setLabelText(prompt);
    dialog.setTextValue(defaultText);
    (void)dialog.sizeHint();  // makes its layout, which the bar's margin then shifts
    addOwnTitleBar(&dialog);
    keepToCloseOnly(&dialog);
    return dialog.exec() == QDialog::Accepted ? dialog.textValue() : QString();
}

namespace {
// The dialog set up for `request`, in `mode` where it opens files; empty when refused.
QStringList runFileDialog(const FileDialogRequest& request, QFileDialog::FileMode openMode, QWidget* parent)
{
    QFileDialog dialog(parent, request.title, request.folder);
    switch (request.kind) {
    case FileDialogKind::Open:
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(openMode);
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
    // Qt's own dialog takes our bar as the other dialogs do; a platform's native one shows
    // in a window of its own and never this widget, so the bar costs it nothing.
    addOwnTitleBar(&dialog);
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.selectedFiles();
}
} // namespace

QString FileDialog(const FileDialogRequest& request, QWidget* parent)
{
    if (g_fileAnswer) return g_fileAnswer(request);
    const QStringList chosen = runFileDialog(request, QFileDialog::ExistingFile, parent);
    return chosen.isEmpty() ? QString() : chosen.front();
}

QStringList OpenFilesDialog(const FileDialogRequest& request, QWidget* parent)
{
    if (g_fileAnswer) return g_fileAnswer(request).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return runFileDialog(request, QFileDialog::ExistingFiles, parent);
}

void setMessageAnswer(MessageAnswer answer) { g_messageAnswer = std::move(answer); }
void setInputAnswer(InputAnswer answer) { g_inputAnswer = std::move(answer); }
void setFileAnswer(FileAnswer answer) { g_fileAnswer = std::move(answer); }

} // namespace services
