#include "services/controls.h"

#include "services/fitlabel.h"

#include <QLineEdit>
#include <QPushButton>

namespace services {

QLineEdit* makeBox(QWidget* parent, const QRect& at, const QString& text, const QString& tip, bool right)
{
    auto* box = new QLineEdit(text, parent);
    box->setGeometry(at);
    if (right) box->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    box->setToolTip(tip);
    fitFontToBox(box);
    return box;
}

QPushButton* makeButton(QWidget* parent, const QRect& at, const QString& caption, const QString& tip)
{
    auto* b = new QPushButton(caption, parent);
    b->setGeometry(at);
    b->setToolTip(tip);
    b->setAutoDefault(false);
    fitFontToBox(b);
    return b;
}

} // namespace services
