#include "services/custommsgbox.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <array>

namespace services {
namespace {

MessageRequest requestOf(const CustomMsgBoxParams& params)
{
    MessageRequest request;
    request.text = params.Prompt;
    request.title = params.Title;
    const int set = params.Flags & 0x0F;
    request.buttons = (set >= 0 && set <= 5) ? static_cast<MsgButtons>(set) : MsgButtons::OK;
    switch (params.Flags & 0xF0) {
    case 16: request.icon = MsgIcon::Critical; break;
    case 32: request.icon = MsgIcon::Question; break;
    case 48: request.icon = MsgIcon::Exclamation; break;
    case 64: request.icon = MsgIcon::Information; break;
    default: request.icon = MsgIcon::None; break;
    }
    request.defaultButton = ((params.Flags & 0xF00) >> 8) + 1;
    return request;
}

// The wish each button gets, in the box's own order: slot 1 takes the first button, every
// later slot in use the button after the last one changed; without slot 1 nothing changes.
QList<const CustomButton*> wishesByButton(const CustomMsgBoxParams& params, qsizetype buttonCount)
{
    QList<const CustomButton*> wishes(buttonCount, nullptr);
    if (!params.Button1.Use) return wishes;
    const std::array<const CustomButton*, 3> inOrder{&params.Button1, &params.Button2, &params.Button3};
    qsizetype next = 0;
    for (const CustomButton* slot : inOrder) {
        if (!slot->Use) continue;
        if (next >= buttonCount) break;
        wishes[next++] = slot;
    }
    return wishes;
}

// What the platform does on a key press: the focused push button takes Enter, else the
// dialog hands it to its default button.
void pressEnter(QMessageBox& box)
{
    box.raise();
    box.activateWindow();
    QWidget* target = box.focusWidget() ? box.focusWidget() : &box;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
}

} // namespace

qint32 msgFlags(MsgButtons buttons, MsgIcon icon, int defaultButton)
{
    const int extra = (defaultButton >= 1 && defaultButton <= 4) ? (defaultButton - 1) << 8 : 0;
    return static_cast<qint32>(buttons) | static_cast<qint32>(icon) | extra;
}

int CustomMsgBox(const CustomMsgBoxParams& params)
{
    MessageRequest request = requestOf(params);
    const QList<const CustomButton*> wishes = wishesByButton(params, buttonResults(request.buttons).size());
    for (const CustomButton* wish : wishes) request.captions.append(wish ? wish->Caption : QString());

    bool timedOut = false;
    const auto setup = [&](QMessageBox& box, const QList<QPushButton*>& buttons) {
        // Of several buttons styled as the default, the first is it: a later one taking
        // over would make Enter press the wrong button.
        for (qsizetype i = 0; i < buttons.size() && i < wishes.size(); ++i)
            if (wishes[i] && (wishes[i]->Style & kButtonStyleDefault)) {
                box.setDefaultButton(buttons[i]);
                break;
            }
        if (params.Move && params.X != -1 && params.Y != -1) box.move(params.X, params.Y);
        if (!params.Picture.isNull()) box.setIconPixmap(params.Picture.copy(0, 0, 32, 32));
        if (params.TimeOut > 0) {
            auto* timer = new QTimer(&box);
            timer->setSingleShot(true);
            timer->setTimerType(Qt::PreciseTimer);
            QObject::connect(timer, &QTimer::timeout, &box, [&timedOut, &box] {
                timedOut = true;
                pressEnter(box);
            });
            timer->start(params.TimeOut);
        }
    };

    const int result = ShowMessage(request, params.Owner, setup);
    return timedOut ? kMsgTimedOut : result;
}

} // namespace services
