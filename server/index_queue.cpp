#include "server/index_queue.h"

#include <utility>

IndexQueue::IndexQueue(BatchIndexer index) : m_index(std::move(index)), m_thread(&IndexQueue::IndexBatches, this) {}

IndexQueue::~IndexQueue()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
    }
    m_added.notify_one();
    m_thread.join();
}

void IndexQueue::Add(IndexedReport report)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_waiting.push_back(std::move(report));
        ++m_addedCount;
    }
    m_added.notify_one();
}

void IndexQueue::Flush()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const uint64_t target = m_addedCount;
    m_done.wait(lock, [&] { return m_doneCount >= target; });
}

void IndexQueue::IndexBatches()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_added.wait(lock, [&] { return m_ending || !m_waiting.empty(); });
        if (m_waiting.empty())
            return;  // ending, and nothing left
        // Whatever arrived while the last batch committed goes in this one.
        std::vector<IndexedReport> batch;
        batch.swap(m_waiting);
        lock.unlock();
        m_index(batch);
        lock.lock();
        m_doneCount += batch.size();
        m_done.notify_all();
    }
}
