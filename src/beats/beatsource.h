#pragma once
// The beat grid of one media file for the windows: analysed on a worker thread, or read back
// from the per-user cache where the waveform's peaks are kept, and analysed again when the
// file changes. A file no longer shown has its analysis cancelled.
#include "beats/beatgrid.h"
#include "beats/gridfix.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

namespace beats {

// The folder grids are kept in: the per-user cache's "peaks" folder, unless set (an empty
// folder goes back to it).
QString cacheFolder();
void setCacheFolder(const QString& folder);
// Where the grid of `mediaPath` as it is now is kept; empty when it cannot be looked at.
QString gridPath(const QString& mediaPath);
// Where the user's corrections of `mediaPath`'s grid are kept: by its path alone, so that
// they outlive a new analysis and a change of the file.
QString fixPath(const QString& mediaPath);

class BeatJob;

class BeatSource : public QObject {
    Q_OBJECT
public:
    enum class Status { Empty, Analysing, Ready, Failed };

    explicit BeatSource(QObject* parent = nullptr);
    ~BeatSource() override;

    // Analyses `path` (empty: nothing). The same file unchanged since is not analysed
    // again, nor tried again when it failed.
    void setFile(const QString& path);
    QString file() const { return m_path; }
    Status status() const { return m_status; }
    QString error() const { return m_error; }
    // Empty until Ready, and where no beat was heard; the user's corrections applied.
    const BeatGrid& grid() const { return m_grid; }
    const BeatGrid& analysed() const { return m_analysed; }

    // The corrections of this file; setting them keeps them and shows them at once, also
    // in every other source on the same file.
    const GridFix& fix() const { return m_fix; }
    void setFix(const GridFix& fix);
    // The file's length, once known: bounds a tapped grid.
    void setLength(double seconds);

signals:
    void changed();

private:
    void jobDone();
    void readFix();
    void applyFix();

    QString m_path;
    QByteArray m_stamp;
    Status m_status = Status::Empty;
    QString m_error;
    BeatGrid m_analysed;
    BeatGrid m_grid;
    GridFix m_fix;
    double m_length = 0;
    std::shared_ptr<BeatJob> m_job;
};

} // namespace beats
