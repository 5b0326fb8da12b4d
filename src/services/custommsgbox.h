#pragma once
// The platform's message box with captions of the caller's choosing on up to three of its
// buttons; it can also be moved, dismissed after a time-out and show a picture of its own.
#include "services/messages.h"

#include <QPixmap>
#include <QString>

class QWidget;

namespace services {

// Style bits a button wish may add.
inline constexpr qint32 kButtonStyleDefault = 1;   // the box's default button (Enter, time-out)
inline constexpr qint32 kButtonStyleCentred = 768; // centred caption; Qt centres them anyway

// Default-button bits of the platform flags.
inline constexpr qint32 vbDefaultButton1 = 0;
inline constexpr qint32 vbDefaultButton2 = 256;
inline constexpr qint32 vbDefaultButton3 = 512;

// Result of a box dismissed by its time-out.
inline constexpr int kMsgTimedOut = 200;

struct CustomButton {
    QString Caption;
    qint32 Style = 0;
    bool Use = false; // the button is changed only when set
};

struct CustomMsgBoxParams {
    QString Prompt;
    QString Title;       // empty means the application's title
    qint32 TimeOut = 0;  // milliseconds; 0 or less means never
    qint32 X = 0;        // screen position of the box's outer top-left corner, pixels
    qint32 Y = 0;
    bool Move = false;   // ignored when X or Y is -1
    QPixmap Picture;     // its top-left 32 x 32 pixels replace the box's icon; null for none
    CustomButton Button1;
    CustomButton Button2;
    CustomButton Button3;
    qint32 Flags = 0;    // button set + icon + default button, as the platform's flags
    QWidget* Owner = nullptr;
};

// Platform flags for a button set, an icon and a 1-based default button.
qint32 msgFlags(MsgButtons buttons, MsgIcon icon = MsgIcon::None, int defaultButton = 1);

// Shows the box modally and returns the result code of the button pressed, named by its place
// in the platform's set whatever its caption, or kMsgTimedOut after the time-out pressed the
// default button. Goes through ShowMessage, so tests can answer it.
int CustomMsgBox(const CustomMsgBoxParams& params);

} // namespace services
