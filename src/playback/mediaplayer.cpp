#include "playback/mediaplayer.h"

#include "app/memory.h"
#include "engine/mediaprobe.h"
#include "playback/playbackfollow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QStackedLayout>
#include <QStyle>
#include <QVBoxLayout>
#include <cmath>

namespace playback {
namespace {

constexpr int kTrackerSteps = 1000;
constexpr int kTrackerMs = 200;

// Media information kinds and the tags that carry them, first found wins.
QStringList tagsForKind(int kind)
{
    switch (kind) {
    case 1: return {"title"};                                   // show title
    case 2: return {"album_artist", "artist"};                  // show author
    case 3: return {"copyright"};                               // show copyright
    case 4: return {"rating"};                                  // show rating
    case 5: return {"description", "comment"};                  // show description
    case 9: return {"artist", "author", "composer"};            // clip author
    case 10: return {"copyright"};                              // clip copyright
    case 12: return {"comment", "description"};                 // clip description
    default: return {};  // banner and watermark: no file format here carries them
    }
}

// The transport glyphs in the palette's button text colour, so a dark theme shows them.
QIcon transportIcon(QStyle::StandardPixmap kind, const QPalette& palette)
{
    QIcon icon;
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Disabled}) {
        QPixmap pm(16, 16);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(palette.color(group, QPalette::ButtonText));
        if (kind == QStyle::SP_MediaPlay)
            p.drawPolygon(QPolygonF({QPointF(4, 2), QPointF(13, 8), QPointF(4, 14)}));
        else if (kind == QStyle::SP_MediaPause)
            p.drawRects(QList<QRectF>{{3.5, 2.5, 3, 11}, {9.5, 2.5, 3, 11}});
        else
            p.drawRect(QRectF(3.5, 3.5, 9, 9));
        p.end();
        icon.addPixmap(pm, group == QPalette::Disabled ? QIcon::Disabled : QIcon::Normal);
    }
    return icon;
}

} // namespace

MediaPlayer::MediaPlayer(engine::MediaEngine* engine, QWidget* parent)
    : QWidget(parent), m_control(new EngineControl(engine, this)), m_engine(engine)
{
    buildControls();
    // Connected before anything else can connect to the controls: the preparation shown
    // is gone before a failure is told.
    connect(m_control, &EngineControl::fileSet, m_preparing, &QWidget::hide);
    connect(m_control, &EngineControl::loadFailed, m_preparing, &QWidget::hide);
    connect(m_control, &EngineControl::PlayStateChange, this, [this](engine::PlayState oldState, engine::PlayState newState) {
        emit PlayStateChange(oldState, newState);
        refreshTracker();
    });
    connect(m_control, &EngineControl::PositionChange, this, &MediaPlayer::PositionChange);
    connect(m_control, &EngineControl::loopWrapped, this, &MediaPlayer::loopWrapped);
    connect(m_control, &EngineControl::loadFailed, this, &MediaPlayer::loadFailed);
    connect(m_control, &EngineControl::DurationChange, this, &MediaPlayer::DurationChange);
    connect(m_control, &EngineControl::loopChanged, this, &MediaPlayer::loopChanged);
    connect(m_engine, &engine::MediaEngine::loaded, this, [this] {
        m_preparing->hide();
        showPicture();
        dropVideoView();
    });
    connect(m_engine, &engine::MediaEngine::loadProgress, this, [this](int percent) {
        m_preparing->setText(tr("Preparing %1%").arg(percent));
        m_preparing->show();
    });
    connect(m_engine, &engine::MediaEngine::videoChanged, this, &MediaPlayer::showPicture);
}

MediaPlayer::~MediaPlayer() = default;

void MediaPlayer::buildControls()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);

    auto* picture = new QWidget(this);
    m_pictureStack = new QStackedLayout(picture);
    m_blank = new QWidget(picture);
    m_blank->setAutoFillBackground(true);
    QPalette pal = m_blank->palette();
    pal.setColor(QPalette::Window, Qt::black);
    m_blank->setPalette(pal);
    m_pictureStack->addWidget(m_blank);
    layout->addWidget(picture, 1);
    // A line of subtitles or lyrics: large enough to read from the instrument or the desk.
    // Under the picture: over a video's, the engine draws it (refreshLine).
    m_line = new QLabel(this);
    m_line->setObjectName(QStringLiteral("Line"));
    m_line->setAccessibleName(tr("Line"));
    m_line->setAlignment(Qt::AlignCenter);
    m_line->setWordWrap(true);
    m_line->setTextFormat(Qt::PlainText);
    QFont big = m_line->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    m_line->setFont(big);
    m_line->hide();
    layout->addWidget(m_line);

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(2, 0, 2, 2);
    m_play = new QPushButton(transportIcon(QStyle::SP_MediaPlay, palette()), QString(), this);
    m_pause = new QPushButton(transportIcon(QStyle::SP_MediaPause, palette()), QString(), this);
    m_stop = new QPushButton(transportIcon(QStyle::SP_MediaStop, palette()), QString(), this);
    // Named as a person says them: the glyphs alone give a screen reader nothing.
    const std::pair<QPushButton*, QString> named[] = {{m_play, tr("Play")}, {m_pause, tr("Pause")}, {m_stop, tr("Stop")}};
    for (const auto& [b, name] : named) {
        b->setToolTip(name);
        b->setAccessibleName(name);
    }
    for (QPushButton* b : {m_play, m_pause, m_stop}) {
        // Not flat: a flat button shows no mark when it has the focus.
        b->setFocusPolicy(Qt::TabFocus);
        // In a dialog (the editor's test player), Enter in a box must not press Play.
        b->setAutoDefault(false);
        bar->addWidget(b);
    }
    // A file that is prepared before it plays (MIDI) shows how far that is.
    m_preparing = new QLabel(this);
    m_preparing->setObjectName(QStringLiteral("Preparing"));
    m_preparing->hide();
    bar->addWidget(m_preparing);
    m_tracker = new QSlider(Qt::Horizontal, this);
    m_tracker->setRange(0, kTrackerSteps);
    m_tracker->setToolTip(tr("Position"));
    m_tracker->setAccessibleName(tr("Position"));
    bar->addWidget(m_tracker, 1);
    layout->addLayout(bar);

    connect(m_play, &QPushButton::clicked, m_control, &EngineControl::Play);
    connect(m_pause, &QPushButton::clicked, m_control, &EngineControl::Pause);
    connect(m_stop, &QPushButton::clicked, m_control, &EngineControl::Stop);
    connect(m_tracker, &QSlider::sliderPressed, this, [this] { m_trackerDragging = true; });
    connect(m_tracker, &QSlider::sliderReleased, this, [this] {
        m_trackerDragging = false;
        trackerMoved(m_tracker->value());
    });
    connect(m_tracker, &QSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove) trackerMoved(m_tracker->sliderPosition());
    });

    m_trackerFollow = new PlaybackFollow(m_control, m_tracker, kTrackerMs, [this](FollowCause) { refreshTracker(); }, this);
}

void MediaPlayer::showPicture()
{
    // The video view (and with it an OpenGL context, and the window's composition through
    // it) is made only once a video shows: sound files cost no rendering at all.
    if (m_engine->hasVideo() && !m_videoView) {
        m_videoView = m_engine->createVideoView(m_pictureStack->parentWidget());
        if (m_videoView) m_pictureStack->addWidget(m_videoView);
    }
    m_pictureStack->setCurrentWidget(m_engine->hasVideo() && m_videoView ? m_videoView : m_blank);
    refreshLine();
}

void MediaPlayer::setLine(const QString& text)
{
    m_line->setText(text);
    refreshLine();
}

void MediaPlayer::refreshLine()
{
    // A video's picture is a native window of its own, which no label can be drawn over:
    // the engine draws the line into the picture instead.
    const QString text = m_line->text();
    const bool overPicture = !text.isEmpty() && m_videoView && m_pictureStack->currentWidget() == m_videoView;
    const bool drawn = m_engine->setOverlayLine(overPicture ? text : QString()) && overPicture;
    m_line->setVisible(!text.isEmpty() && !drawn);
}

QString MediaPlayer::line() const { return m_line->text(); }

void MediaPlayer::dropVideoView()
{
    // Between two videos the view stays; a file without pictures, loaded, lets it go. Its
    // render context goes with it, and the engine's video output with that.
    if (!m_videoView || m_engine->hasVideo()) return;
    m_pictureStack->setCurrentWidget(m_blank);
    m_pictureStack->removeWidget(m_videoView);
    delete m_videoView;
    m_videoView = nullptr;
    // The video's decoders and OpenGL context freed some 10 MB that glibc would otherwise
    // keep in its arenas for the rest of the run.
    app::releaseFreedMemory();
    refreshLine();
}

void MediaPlayer::refreshTracker()
{
    if (m_trackerDragging || !isVisible()) return;
    const double duration = m_control->Duration();
    const int value = duration > 0 ? static_cast<int>(std::lround(m_control->CurrentPosition() / duration * kTrackerSteps)) : 0;
    // A step that leaves the handle on the same pixel is not worth a repaint.
    const int span = m_tracker->width();
    if (QStyle::sliderPositionFromValue(0, kTrackerSteps, value, span) ==
            QStyle::sliderPositionFromValue(0, kTrackerSteps, m_tracker->value(), span) &&
        (value == 0) == (m_tracker->value() == 0))
        return;
    const QSignalBlocker block(m_tracker);
    m_tracker->setValue(value);
}

void MediaPlayer::trackerMoved(int value)
{
    const double duration = m_control->Duration();
    if (duration > 0) m_control->setCurrentPosition(duration * value / kTrackerSteps);
}

void MediaPlayer::setPictureStandIn(QWidget* standIn)
{
    const bool showing = m_pictureStack->currentWidget() == m_blank;
    m_pictureStack->insertWidget(m_pictureStack->indexOf(m_blank), standIn);
    m_pictureStack->removeWidget(m_blank);
    delete m_blank;
    m_blank = standIn;
    if (showing) m_pictureStack->setCurrentWidget(m_blank);
}

QString MediaPlayer::GetMediaInfoString(int kind) const
{
    const QHash<QString, QString> tags = m_engine->metadata();
    for (const QString& tag : tagsForKind(kind)) {
        const QString value = tags.value(tag);
        if (!value.isEmpty()) return value;
    }
    return {};
}

} // namespace playback
