#pragma once
// Shows an MpvEngine's pictures through mpv's render API. Made by
// MpvEngine::createVideoView(); one per engine.
#include <QOpenGLWidget>

#include <atomic>

struct mpv_handle;
struct mpv_render_context;

namespace player {

class MpvVideoView : public QOpenGLWidget {
    Q_OBJECT
public:
    MpvVideoView(mpv_handle* mpv, QWidget* parent = nullptr);
    ~MpvVideoView() override;

    // False where this display offers no OpenGL: Qt cannot even draw such a widget there.
    static bool openGlAvailable();

    // Frees the render context and forgets the core; the engine calls it before it shuts
    // mpv down. The widget then stays black.
    void detach();
    bool isRendering() const { return m_render != nullptr; }
    int framesDrawn() const { return m_framesDrawn; }
    // Drawn, or taken without drawing while out of sight.
    int framesTaken() const { return m_framesDrawn + m_framesSkipped; }

signals:
    // mpv has somewhere to draw now.
    void renderContextReady();
    // mpv is about to lose its place to draw (the widget goes, or moves to another
    // window): the time to move its output elsewhere, while the old one still works.
    void renderContextAboutToBeReleased();

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    void releaseRenderContext();
    void onRenderUpdate();

    mpv_handle* m_mpv;
    mpv_render_context* m_render = nullptr;
    // Cut in our destructor: ~QOpenGLWidget destroys the context after our part is gone.
    QMetaObject::Connection m_contextGone;
    std::atomic<bool> m_updateQueued{false};
    int m_framesDrawn = 0;
    int m_framesSkipped = 0;
};

} // namespace player
