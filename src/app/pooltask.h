#pragma once
// Starts a task on a QThreadPool so that ThreadSanitizer sees the hand-over. The pool
// passes the task to its thread under Qt's own locks, which are not built with the
// sanitizer: without this, everything the task was given looks raced. Whatever was
// written before the start is visible to the task (QThreadPool's guarantee); this says
// so to the sanitizer and does nothing in other builds.
#include <QThreadPool>

#include <functional>
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

} // namespace app
