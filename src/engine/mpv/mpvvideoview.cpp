#include "engine/mpv/mpvvideoview.h"

#include <QGuiApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLWindow>
#include <QVBoxLayout>

#include <mpv/render_gl.h>

namespace engine {

// The OpenGL window mpv draws into. Lives on the UI thread; mpv's threads only queue a
// look onto it.
class MpvVideoSurface : public QOpenGLWindow {
public:
    MpvVideoSurface(mpv_handle* mpv, MpvVideoView* view) : m_mpv(mpv), m_view(view)
    {
        // Clicks, keys and drops go to the player's widgets underneath, as over the
        // black picture of a sound file.
        setFlag(Qt::WindowTransparentForInput);
    }
    ~MpvVideoSurface() override
    {
        disconnect(m_contextGone);
        releaseRenderContext();
    }

    void detach()
    {
        m_mpv = nullptr;
        releaseRenderContext();
    }
    void releaseRenderContext();
    bool isRendering() const { return m_render != nullptr; }
    int framesDrawn() const { return m_framesDrawn; }
    int framesSkipped() const { return m_framesSkipped; }

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    void onRenderUpdate();

    mpv_handle* m_mpv;
    MpvVideoView* m_view;
    mpv_render_context* m_render = nullptr;
    // Cut in our destructor: ~QOpenGLWindow destroys the context after our part is gone.
    QMetaObject::Connection m_contextGone;
    std::atomic<bool> m_updateQueued{false};
    int m_framesDrawn = 0;
    int m_framesSkipped = 0;
};

void MpvVideoSurface::releaseRenderContext()
{
    if (!m_render) return;
    if (m_mpv) emit m_view->renderContextAboutToBeReleased();
    // mpv frees its GL objects here, so our context must be current.
    makeCurrent();
    mpv_render_context_free(m_render);
    m_render = nullptr;
    doneCurrent();
}

void MpvVideoSurface::initializeGL()
{
    if (!m_mpv || m_render) return;
    mpv_opengl_init_params gl{
        [](void*, const char* name) -> void* {
            QOpenGLContext* c = QOpenGLContext::currentContext();
            return c ? reinterpret_cast<void*>(c->getProcAddress(name)) : nullptr;
        },
        nullptr};
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_OPENGL)},
        {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &gl},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    if (mpv_render_context_create(&m_render, m_mpv, params) < 0) {
        m_render = nullptr;
        qWarning("Video output unavailable: mpv could not render with this OpenGL context");
        return;
    }
    // Called on mpv's threads: only queue a look onto ours.
    mpv_render_context_set_update_callback(
        m_render,
        [](void* ctx) {
            auto* self = static_cast<MpvVideoSurface*>(ctx);
            if (!self->m_updateQueued.exchange(true))
                QMetaObject::invokeMethod(self, [self] { self->onRenderUpdate(); }, Qt::QueuedConnection);
        },
        this);
    // A window made again (moved to another parent) gets a new context; the old one's
    // objects go first.
    disconnect(m_contextGone);
    m_contextGone = connect(context(), &QOpenGLContext::aboutToBeDestroyed, this,
            [this] { releaseRenderContext(); }, Qt::DirectConnection);
    emit m_view->renderContextReady();
}

void MpvVideoSurface::onRenderUpdate()
{
    m_updateQueued = false;
    if (!m_render || !(mpv_render_context_update(m_render) & MPV_RENDER_UPDATE_FRAME)) return;
    if (isExposed()) {
        update();
        return;
    }
    // Qt paints nothing out of sight (hidden to the tray, minimised), and mpv would wait
    // for each frame until it times out: a file without sound, timed by its frames, slows
    // down. The frame is taken without drawing it.
    makeCurrent();
    int skip = 1;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_SKIP_RENDERING, &skip},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context_render(m_render, params);
    doneCurrent();
    ++m_framesSkipped;
}

void MpvVideoSurface::paintGL()
{
    if (!m_render) {
        QOpenGLFunctions* f = context()->functions();
        f->glClearColor(0, 0, 0, 1);
        f->glClear(GL_COLOR_BUFFER_BIT);
        return;
    }
    const qreal dpr = devicePixelRatio();
    mpv_opengl_fbo fbo{static_cast<int>(defaultFramebufferObject()), static_cast<int>(width() * dpr),
                       static_cast<int>(height() * dpr), 0};
    int flipY = 1;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
        {MPV_RENDER_PARAM_FLIP_Y, &flipY},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context_render(m_render, params);
    ++m_framesDrawn;
}

MpvVideoView::MpvVideoView(mpv_handle* mpv, QWidget* parent) : QWidget(parent), m_surface(new MpvVideoSurface(mpv, this))
{
    setMinimumSize(16, 16);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // The container takes the surface; it is a native child window, the only one.
    QWidget* container = QWidget::createWindowContainer(m_surface, this);
    container->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(container);
}

MpvVideoView::~MpvVideoView()
{
    // Before the container and with it the surface go: the engine closes its output while
    // the view is whole.
    m_surface->releaseRenderContext();
}

bool MpvVideoView::openGlAvailable()
{
    static const bool available = [] {
        // These draw in software only, even where they can make a GL context.
        const QString platform = QGuiApplication::platformName();
        if (platform == "offscreen" || platform == "minimal" || platform == "vnc" || platform == "linuxfb")
            return false;
        QOpenGLContext probe;
        return probe.create();
    }();
    return available;
}

void MpvVideoView::detach() { m_surface->detach(); }
bool MpvVideoView::isRendering() const { return m_surface->isRendering(); }
int MpvVideoView::framesDrawn() const { return m_surface->framesDrawn(); }
int MpvVideoView::framesTaken() const { return m_surface->framesDrawn() + m_surface->framesSkipped(); }
QImage MpvVideoView::grabFramebuffer() { return m_surface->grabFramebuffer(); }

} // namespace engine
