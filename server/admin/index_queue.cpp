#include "server/admin/index_queue.h"

#include <utility>

const size_t IndexQueue::kMaxBatch;

IndexQueue::IndexQueue(BatchIndexer index, std::chrono::milliseconds gather)
    : m_index(std::move(index)), m_gather(gather), m_thread(&IndexQueue::IndexBatches, this)
{
}

IndexQueue::~IndexQueue()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void IndexQueue::Add(IndexedReport report)
{
    bool full = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_waiting.push_back(std::move(report));
        ++m_addedCount;
        full = m_waiting.size() == 1 || m_waiting.size() >= kMaxBatch;
    }
    if (full)
        m_wake.notify_one();  // the first starts the gathering; a full batch ends it
}

void IndexQueue::Flush()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const uint64_t target = m_addedCount;
    if (target > m_flushTo)
        m_flushTo = target;
    m_wake.notify_one();
    m_done.wait(lock, [&] { return m_doneCount >= target; });
}

bool IndexQueue::MustIndexNow() const
{
    return m_ending || m_flushTo > m_doneCount || m_waiting.size() >= kMaxBatch;
}

void IndexQueue::IndexBatches()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_ending || !m_waiting.empty(); });
        if (m_waiting.empty())
            return;  // ending, and nothing left
        m_wake.wait_for(lock, m_gather, [&] { return MustIndexNow(); });
        std::vector<IndexedReport> batch;
        batch.swap(m_waiting);
        lock.unlock();
        m_index(batch);
        lock.lock();
        m_doneCount += batch.size();
        m_done.notify_all();
    }
}
