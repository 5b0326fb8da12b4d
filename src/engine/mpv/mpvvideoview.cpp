#include "engine/mpv/mpvvideoview.h"

#include <QGuiApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QWindow>

#include <mpv/render_gl.h>

namespace player {

MpvVideoView::MpvVideoView(mpv_handle* mpv, QWidget* parent) : QOpenGLWidget(parent), m_mpv(mpv)
{
    setMinimumSize(16, 16);
}

MpvVideoView::~MpvVideoView()
{
    disconnect(m_contextGone);
    releaseRenderContext();
}

bool MpvVideoView::openGlAvailable()
{
    static const bool available = [] {
        // These draw widgets in software only, even where they can make a GL context.
        const QString platform = QGuiApplication::platformName();
        if (platform == "offscreen" || platform == "minimal" || platform == "vnc" || platform == "linuxfb")
            return false;
        QOpenGLContext probe;
        return probe.create();
    }();
    return available;
}

void MpvVideoView::detach()
{
    m_mpv = nullptr;
    releaseRenderContext();
}

void MpvVideoView::releaseRenderContext()
{
    if (!m_render) return;
    if (m_mpv) emit renderContextAboutToBeReleased();
    // mpv frees its GL objects here, so our context must be current.
    makeCurrent();
    mpv_render_context_free(m_render);
    m_render = nullptr;
    doneCurrent();
}

void MpvVideoView::initializeGL()
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
            auto* self = static_cast<MpvVideoView*>(ctx);
            if (!self->m_updateQueued.exchange(true))
                QMetaObject::invokeMethod(self, [self] { self->onRenderUpdate(); }, Qt::QueuedConnection);
        },
        this);
    // A widget moved to another window gets a new context; the old one's objects go first.
    disconnect(m_contextGone);
    m_contextGone = connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &MpvVideoView::releaseRenderContext,
            Qt::DirectConnection);
    emit renderContextReady();
}

void MpvVideoView::onRenderUpdate()
{
    m_updateQueued = false;
    if (!m_render || !(mpv_render_context_update(m_render) & MPV_RENDER_UPDATE_FRAME)) return;
    const QWindow* shown = window()->windowHandle();
    if (isVisible() && shown && shown->isExposed()) {
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

void MpvVideoView::paintGL()
{
    if (!m_render) {
        QOpenGLFunctions* f = context()->functions();
        f->glClearColor(0, 0, 0, 1);
        f->glClear(GL_COLOR_BUFFER_BIT);
        return;
    }
    const qreal dpr = devicePixelRatioF();
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

} // namespace player
