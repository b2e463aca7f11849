// Reports just stored, put on the maintainers' list in batches by a thread
// of their own, off the upload's way to its 201. A commit rewrites whole
// pages of the list and its search index, whether for one report or for a
// hundred, so the thread lets reports gather for a while before each.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "server/store/admin_store.h"

class IndexQueue
{
public:
    // index gets each batch, in the order added; the queue logs nothing
    // itself, so index reports its own failures.
    typedef std::function<void(const std::vector<IndexedReport>& batch)> BatchIndexer;

    // A batch waits up to gather after its first report, or until it has
    // kMaxBatch, or until someone flushes.
    static const size_t kMaxBatch = 500;
    IndexQueue(BatchIndexer index, std::chrono::milliseconds gather);
    // Indexes what is still waiting, at once, then ends the thread.
    ~IndexQueue();
    IndexQueue(const IndexQueue&) = delete;
    IndexQueue& operator=(const IndexQueue&) = delete;

    void Add(IndexedReport report);
    // Returns once every report added before the call has been handed to
    // index, without waiting out the gathering: a page shows every report
    // already answered 201.
    void Flush();

private:
    void IndexBatches();
    bool MustIndexNow() const;

    BatchIndexer m_index;
    std::chrono::milliseconds m_gather;
    std::mutex m_mutex;
    std::condition_variable m_wake;  // a report, a flush or the end
    std::condition_variable m_done;  // a batch is through
    std::vector<IndexedReport> m_waiting;
    uint64_t m_addedCount = 0;
    uint64_t m_doneCount = 0;
    uint64_t m_flushTo = 0;  // a Flush waits until m_doneCount reaches it
    bool m_ending = false;
    std::thread m_thread;  // last: starts once the rest is ready
};
