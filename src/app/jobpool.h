#pragma once
// Background jobs on one worker thread of their own (the sound output needs the other
// core), run in the order they were started. The pool keeps no job alive: the owner holds
// it and drops it when it is no longer wanted. Jobs still under way when the pool goes
// (at the program's end) are cancelled and waited for.
#include <QList>
#include <QMutex>
#include <QThreadPool>

#include <atomic>
#include <memory>
#include <utility>

namespace app {

class PoolJob {
public:
    virtual ~PoolJob() = default;
    // On the worker thread.
    virtual void run() = 0;
    // From any thread: the job ends at its next look at the flag.
    void cancel() { m_cancel = true; }
    bool cancelled() const { return m_cancel; }

protected:
    const std::atomic<bool>* cancelFlag() const { return &m_cancel; }

private:
    std::atomic<bool> m_cancel{false};
};

class JobPool {
public:
    JobPool() = default;
    JobPool(const JobPool&) = delete;
    JobPool& operator=(const JobPool&) = delete;
    ~JobPool();

    // Any thread. The worker holds the job until its run() returns.
    void start(const std::shared_ptr<PoolJob>& job);

private:
    QMutex m_mutex;
    QList<std::weak_ptr<PoolJob>> m_jobs;  // to cancel at the end; expired ones go at each start
    QThreadPool* m_pool = nullptr;         // made at the first start, not at the program's
};

// A job that is a QObject, deleted on the thread that made it whichever thread lets go of
// it last, so that its queued signals never reach a deleted object.
template <typename Job, typename... Args>
std::shared_ptr<Job> makePoolJob(Args&&... args)
{
    return std::shared_ptr<Job>(new Job(std::forward<Args>(args)...), [](Job* j) { j->deleteLater(); });
}

// The owner lets go: the job is cancelled and what it still sends reaches nobody.
template <typename Job>
void dropJob(std::shared_ptr<Job>& job)
{
    if (!job) return;
    job->cancel();
    job->disconnect();
    job.reset();
}

} // namespace app
