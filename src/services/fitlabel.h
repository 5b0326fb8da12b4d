#pragma once
// A caption that stays whole in its design box whatever font the desktop hands it: the
// windows are laid out in twips for a small dialog font, and a desktop theme may apply a
// larger one after the window is built.
#include <QFont>
#include <QLabel>

namespace services {

// `font`, or the largest smaller size of it, whose `text` (laid out with the Qt::TextFlag
// and alignment `flags`) fits in `room`; never below a legible minimum.
QFont fittingFont(QFont font, const QString& text, const QSize& room, int flags);

// Keeps the font `widget` inherits whole in its box, as FitLabel does for captions: a text
// box (its hint text, else a digit), a button or a check box (its caption) gets the largest
// smaller size that fits, again whenever its font or the box changes. Only the size changes:
// a font set on the widget (bold) or given its class by a theme is kept otherwise.
void fitFontToBox(QWidget* widget);

class FitLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace services
