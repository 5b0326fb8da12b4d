#include "app/jobpool.h"

#include "app/pooltask.h"

namespace app {

JobPool::~JobPool()
{
    {
        QMutexLocker lock(&m_mutex);
        for (const auto& w : std::as_const(m_jobs))
            if (auto job = w.lock()) job->cancel();
    }
    if (!m_pool) return;
    m_pool->waitForDone();
    delete m_pool;
}

void JobPool::start(const std::shared_ptr<PoolJob>& job)
{
    QMutexLocker lock(&m_mutex);
    m_jobs.removeIf([](const std::weak_ptr<PoolJob>& w) { return w.expired(); });
    m_jobs.append(job);
    if (!m_pool) {
        m_pool = new QThreadPool;
        m_pool->setMaxThreadCount(1);
    }
    startInPool(*m_pool, [job] { job->run(); });
}

} // namespace app
