#include "server/net/growing_pool.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <system_error>

GrowingPool::GrowingPool(size_t maxThreads, int stopEvent) : m_maxThreads(std::max<size_t>(1, maxThreads)), m_stopEvent(stopEvent)
{
}

void GrowingPool::enqueue(std::function<void()> fn)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_jobs.push_back(std::move(fn));
    if (m_jobs.size() > m_idle && m_threads.size() < m_maxThreads) {
        try {
            m_threads.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
            // Out of threads: the job waits for a busy worker.
        }
    }
    m_changed.notify_one();
}

void GrowingPool::shutdown()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_shutdown)
            return;
        m_shutdown = true;
    }
    const uint64_t one = 1;
    if (write(m_stopEvent, &one, sizeof one) < 0) {
        // Already signalled to its limit: it stays readable either way.
    }
    m_changed.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

void GrowingPool::Work()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            ++m_idle;
            m_changed.wait(lock, [this] { return !m_jobs.empty() || m_shutdown; });
            --m_idle;
            if (m_jobs.empty())
                return;  // shut down, every job done
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
    }
}
