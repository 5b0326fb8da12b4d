#pragma once
// The one question an import of subtitles or lyrics asks: how each line is drilled (passes,
// rate, the pause to repeat it in, the margins around the cue), and the media file where
// the list names none and none lies beside it.
#include "app/entryrecord.h"

#include <QDialog>
#include <QList>
#include <optional>

class QLineEdit;

namespace panel {

struct DrillDefaults {
    int passes = 2;
    double rate = 1;
    PracticeSettings pause;  // its pause alone: seconds, or a multiple of the pass
    double leadIn = 0.15;    // seconds before each cue
    double tail = 0.25;      // seconds after it
    QString media;           // the lines' media file, where asked for
};

// The dialog's texts as defaults, or the problem in words.
struct DrillRead {
    std::optional<DrillDefaults> drill;
    QString problem;
};
DrillRead readDrill(const QString& passes, const QString& rate, const QString& pause, const QString& leadIn,
                    const QString& tail);

// Every line gets the passes, the rate and the pause (the margins go to the reader).
void applyDrill(const DrillDefaults& drill, QList<EntryRecord>& entries);

class DrillDialog : public QDialog {
    Q_OBJECT
public:
    // `needsMedia`: a media file must be named too, the list's folder offered first.
    DrillDialog(const QString& listPath, bool needsMedia, QWidget* parent = nullptr);

    // The answer once accepted.
    const DrillDefaults& drill() const { return m_drill; }

    void accept() override;

private:
    QString m_folder;
    QLineEdit* m_media = nullptr;
    QLineEdit* m_passes = nullptr;
    QLineEdit* m_rate = nullptr;
    QLineEdit* m_pause = nullptr;
    QLineEdit* m_leadIn = nullptr;
    QLineEdit* m_tail = nullptr;
    DrillDefaults m_drill;
};

} // namespace panel
