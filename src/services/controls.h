#pragma once
// Text boxes and buttons at their design places, made one way for every window.
#include <QRect>
#include <QString>

class QLineEdit;
class QPushButton;
class QWidget;

namespace services {

// Numbers read right-aligned; a box of free text passes `right` false.
QLineEdit* makeBox(QWidget* parent, const QRect& at, const QString& text, const QString& tip = {},
                   bool right = true);
// Never a dialog's default button by focus: Enter in a box must not press it.
QPushButton* makeButton(QWidget* parent, const QRect& at, const QString& caption, const QString& tip = {});

} // namespace services
