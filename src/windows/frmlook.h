#pragma once
// A plain viewer for a file's properties, in a fixed-pitch font so padded labels line up.
#include <QDialog>

class QLabel;
class QPushButton;

namespace windows {

class frmLook : public QDialog {
    Q_OBJECT
public:
    explicit frmLook(QWidget* owner = nullptr);
    void SetLook(const QString& strLook);
    QString text() const { return m_text; }
    QLabel* lblLook() const { return m_lblLook; }
    void cmdEscape_Click();

protected:
    void reject() override;

private:
    QLabel* m_lblLook;
    QPushButton* m_cmdEscape;
    QString m_text;
};

} // namespace windows
