// Work handed over by the request threads and done by a thread of its own
// in batches, off the way to the answer: reports put on the maintainers'
// list, crash dumps processed. A commit rewrites whole pages whether for
// one item or for a hundred, so items gather for a while before each batch.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

template <typename Item>
class BatchQueue
{
public:
    // work gets each batch, in the order added; the queue logs nothing
    // itself, so work reports its own failures.
    typedef std::function<void(const std::vector<Item>& batch)> BatchWork;

    // A batch waits up to gather after its first item, or until it has
    // kMaxBatch, or until someone flushes.
    static const size_t kMaxBatch = 500;
    BatchQueue(BatchWork work, std::chrono::milliseconds gather)
        : m_work(std::move(work)), m_gather(gather), m_thread(&BatchQueue::DoBatches, this)
    {
    }
    // Does what is still waiting, at once, then ends the thread.
    ~BatchQueue()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ending = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    BatchQueue(const BatchQueue&) = delete;
    BatchQueue& operator=(const BatchQueue&) = delete;

    void Add(Item item)
    {
        bool full = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_waiting.push_back(std::move(item));
            ++m_addedCount;
            full = m_waiting.size() == 1 || m_waiting.size() >= kMaxBatch;
        }
        if (full)
            m_wake.notify_one();  // the first starts the gathering; a full batch ends it
    }

    // Returns once every item added before the call has been handed to
    // work, without waiting out the gathering: a page shows every report
    // already answered 201.
    void Flush()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const uint64_t target = m_addedCount;
        if (target > m_flushTo)
            m_flushTo = target;
        m_wake.notify_one();
        m_done.wait(lock, [&] { return m_doneCount >= target; });
    }

private:
    bool MustWorkNow() const { return m_ending || m_flushTo > m_doneCount || m_waiting.size() >= kMaxBatch; }

    void DoBatches()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [&] { return m_ending || !m_waiting.empty(); });
            if (m_waiting.empty())
                return;  // ending, and nothing left
            m_wake.wait_for(lock, m_gather, [&] { return MustWorkNow(); });
            std::vector<Item> batch;
            batch.swap(m_waiting);
            lock.unlock();
            m_work(batch);
            lock.lock();
            m_doneCount += batch.size();
            m_done.notify_all();
        }
    }

    BatchWork m_work;
    std::chrono::milliseconds m_gather;
    std::mutex m_mutex;
    std::condition_variable m_wake;  // an item, a flush or the end
    std::condition_variable m_done;  // a batch is through
    std::vector<Item> m_waiting;
    uint64_t m_addedCount = 0;
    uint64_t m_doneCount = 0;
    uint64_t m_flushTo = 0;  // a Flush waits until m_doneCount reaches it
    bool m_ending = false;
    std::thread m_thread;  // last: starts once the rest is ready
};

template <typename Item>
const size_t BatchQueue<Item>::kMaxBatch;
