#pragma once
// Shows an MpvEngine's pictures through mpv's render API. Made by
// MpvEngine::createVideoView(); one per engine.
//
// The pictures are drawn in a window of their own (an OpenGL window in a native child
// container), not in a QOpenGLWidget: such a widget makes Qt compose its whole top-level
// window through OpenGL for the rest of the run, software OpenGL on a display without a
// GPU, also after the video has gone and only sound plays.
#include <QImage>
#include <QWidget>

#include <atomic>

struct mpv_handle;
struct mpv_render_context;

namespace engine {

class MpvVideoSurface;

class MpvVideoView : public QWidget {
    Q_OBJECT
public:
    MpvVideoView(mpv_handle* mpv, QWidget* parent = nullptr);
    ~MpvVideoView() override;

    // False where this display offers no OpenGL window.
    static bool openGlAvailable();

    // Frees the render context and forgets the core; the engine calls it before it shuts
    // mpv down. The view then stays black.
    void detach();
    bool isRendering() const;
    int framesDrawn() const;
    // Drawn, or taken without drawing while out of sight.
    int framesTaken() const;
    QImage grabFramebuffer();

signals:
    // mpv has somewhere to draw now.
    void renderContextReady();
    // mpv is about to lose its place to draw (the view goes, or its window is made
    // again): the time to move its output elsewhere, while the old one still works.
    void renderContextAboutToBeReleased();

private:
    MpvVideoSurface* m_surface;
};

} // namespace engine
