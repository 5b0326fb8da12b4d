#include "windows/drilldialog.h"

#include "app/numbertext.h"
#include "playback/liveloop.h"
#include "services/keldialogs.h"
#include "services/messages.h"
#include "services/titlebar.h"
#include "storage/looplists.h"
#include "storage/practicekeys.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include <cmath>

namespace panel {

DrillRead readDrill(const QString& passes, const QString& rate, const QString& pause, const QString& leadIn,
                    const QString& tail)
{
    DrillDefaults d;
    const auto number = [](const QString& text, double empty) {
        return text.trimmed().isEmpty() ? std::optional(empty) : numtext::parse(text.trimmed());
    };
    const auto p = number(passes, d.passes);
    if (!p || *p != std::trunc(*p) || *p < 1 || *p > 1000) return {{}, QStringLiteral("The passes must be a whole number from 1 to 1000.")};
    const auto r = number(rate, d.rate);
    if (!r || *r < playback::kMinimumRate || *r > playback::kMaximumRate)
        return {{}, QStringLiteral("The rate must be from %1 to %2.")
                        .arg(numtext::format(playback::kMinimumRate), numtext::format(playback::kMaximumRate))};
    // The pause reads as the playlist's pause key does: "2" seconds or "1.5x" the pass.
    int refused = 0;
    const PracticeSettings s = storage::practiceOf({pause.trimmed(), {}, {}, {}}, &refused);
    if (refused) return {{}, QStringLiteral("The pause must be seconds (2) or a multiple of the line (1.5x).")};
    const auto in = number(leadIn, d.leadIn), out = number(tail, d.tail);
    for (const auto& m : {in, out})
        if (!m || *m < 0 || *m > storage::kMaxSubtitleMargin)
            return {{}, QStringLiteral("The margins must be from 0 to %1 seconds.").arg(storage::kMaxSubtitleMargin)};
    d.passes = int(*p);
    d.rate = *r;
    d.pause.pause = s.pause;
    d.pause.pauseFactor = s.pauseFactor;
    d.leadIn = *in;
    d.tail = *out;
    return {d, {}};
}

void applyDrill(const DrillDefaults& drill, QList<EntryRecord>& entries)
{
    for (EntryRecord& e : entries) {
        e.Loops = drill.passes;
        e.Rate = drill.rate;
        e.Practice.pause = drill.pause.pause;
        e.Practice.pauseFactor = drill.pause.pauseFactor;
    }
}

DrillDialog::DrillDialog(const QString& listPath, bool needsMedia, QWidget* parent)
    : QDialog(parent), m_folder(QFileInfo(listPath).absolutePath())
{
    setObjectName(QStringLiteral("DrillDialog"));
    setWindowTitle(QStringLiteral("Drill %1").arg(QFileInfo(listPath).fileName()));
    auto* form = new QFormLayout(this);
    const auto box = [&](const QString& label, const QString& text, const QString& name, const QString& tip) {
        auto* edit = new QLineEdit(text, this);
        edit->setAccessibleName(name);
        edit->setToolTip(tip);
        form->addRow(label, edit);
        return edit;
    };
    if (needsMedia) {
        // The list names no media file and none lies beside it by name.
        m_media = new QLineEdit(this);
        m_media->setAccessibleName(QStringLiteral("Media file"));
        auto* browse = new QPushButton(QStringLiteral("..."), this);
        browse->setAccessibleName(QStringLiteral("Browse for the media file"));
        auto* row = new QHBoxLayout;
        row->addWidget(m_media, 1);
        row->addWidget(browse);
        form->addRow(QStringLiteral("&Media file:"), row);
        connect(browse, &QPushButton::clicked, this, [this] {
            QString name;
            const QString path = services::OpenMediaFile(name, QString(), QStringLiteral("Media File of the Lines"),
                                                         QString(), m_folder);
            if (!path.isEmpty()) m_media->setText(path);
        });
    }
    const DrillDefaults d;
    m_passes = box(QStringLiteral("&Passes per line:"), QString::number(d.passes), QStringLiteral("Passes per line"),
                   QStringLiteral("How often each line plays before the next"));
    m_rate = box(QStringLiteral("&Rate:"), numtext::format(d.rate), QStringLiteral("Rate"),
                 QStringLiteral("1 is normal speed, 0.8 a little slower; the pitch is kept"));
    m_pause = box(QStringLiteral("P&ause:"), QStringLiteral("1.5x"), QStringLiteral("Pause"),
                  QStringLiteral("Silence to repeat the line in: seconds (2), or a multiple of the line (1.5x); "
                                 "empty for none"));
    m_leadIn = box(QStringLiteral("&Lead-in:"), numtext::format(d.leadIn), QStringLiteral("Lead-in seconds"),
                   QStringLiteral("Seconds each line starts before its cue"));
    m_tail = box(QStringLiteral("&Tail:"), numtext::format(d.tail), QStringLiteral("Tail seconds"),
                 QStringLiteral("Seconds each line goes on after its cue"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Import"));
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &DrillDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &DrillDialog::reject);
    services::addOwnTitleBar(this);
}

void DrillDialog::accept()
{
    const DrillRead read = readDrill(m_passes->text(), m_rate->text(), m_pause->text(), m_leadIn->text(), m_tail->text());
    QString problem = read.problem;
    if (problem.isEmpty() && m_media && !QFileInfo(m_media->text().trimmed()).isFile())
        problem = QStringLiteral("Name the media file the lines belong to.");
    if (!problem.isEmpty()) {
        services::MsgBox(problem, services::MsgButtons::OK, services::MsgIcon::None, QString(), this);
        return;
    }
    m_drill = *read.drill;
    if (m_media) m_drill.media = QFileInfo(m_media->text().trimmed()).absoluteFilePath();
    QDialog::accept();
}

} // namespace panel
