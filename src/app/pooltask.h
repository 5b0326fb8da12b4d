#pragma once
// Starts a task on a QThreadPool so that ThreadSanitizer sees the hand-over. The pool
// passes the task to its thread under Qt's own locks, which are not built with the
// sanitizer: without this, everything the task was given looks raced. Whatever was
// written before the start is visible to the task (QThreadPool's guarantee); this says
// so to the sanitizer and does nothing in other builds.
#include <QMetaObject>
#include <QObject>
#include <QThreadPool>

#include <functional>
#include <mutex>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#define VAMPLET_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VAMPLET_TSAN 1
#endif
#endif

#ifdef VAMPLET_TSAN
extern "C" void __tsan_release(void* addr);
extern "C" void __tsan_acquire(void* addr);
#endif

namespace app {

#ifdef VAMPLET_TSAN
// One token for every pool: a release by any start is acquired by any task, which can
// only hide races between tasks, never add a report.
inline char g_poolHandOver;
#endif

template <typename Task>
void startInPool(QThreadPool& pool, Task&& task)
{
#ifdef VAMPLET_TSAN
    // Made first, then released: the task's captures are written before the hand-over.
    std::function<void()> run = [task = std::forward<Task>(task)]() mutable {
        __tsan_acquire(&g_poolHandOver);
        task();
    };
    __tsan_release(&g_poolHandOver);
    pool.start(std::move(run));
#else
    pool.start(std::forward<Task>(task));
#endif
}

#ifdef VAMPLET_TSAN
inline std::mutex g_postHandOver;
#endif

// Runs `f` later on `context`'s thread, from its event loop; for a worker's reply to the UI.
// Qt's event queue hands the call over under its own locks, unseen by ThreadSanitizer, as
// the pool does: in such builds the call is posted under a lock the sanitizer sees and
// takes that lock before it reads what `f` captured. Other builds post it plainly.
template <typename F>
void postQueued(QObject* context, F&& f)
{
#ifdef VAMPLET_TSAN
    std::lock_guard posting(g_postHandOver);
    QMetaObject::invokeMethod(
        context,
        [f = std::forward<F>(f)]() mutable {
            { std::lock_guard posted(g_postHandOver); }
            f();
        },
        Qt::QueuedConnection);
#else
    QMetaObject::invokeMethod(context, std::forward<F>(f), Qt::QueuedConnection);
#endif
}

} // namespace app
