// Reports just stored, put on the maintainers' list in batches by a thread
// of their own: one commit per batch instead of one synced commit per
// upload, and none of it on the upload's way to its 201.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "server/admin_store.h"

class IndexQueue
{
public:
    // index gets each batch, in the order added; the queue logs nothing
    // itself, so index reports its own failures.
    typedef std::function<void(const std::vector<IndexedReport>& batch)> BatchIndexer;

    explicit IndexQueue(BatchIndexer index);
    // Indexes what is still waiting, then ends the thread.
    ~IndexQueue();
    IndexQueue(const IndexQueue&) = delete;
    IndexQueue& operator=(const IndexQueue&) = delete;

    void Add(IndexedReport report);
    // Returns once every report added before the call has been handed to
    // index: a page shows every report already answered 201.
    void Flush();

private:
    void IndexBatches();

    BatchIndexer m_index;
    std::mutex m_mutex;
    std::condition_variable m_added;  // a report waits, or the queue ends
    std::condition_variable m_done;   // a batch is through
    std::vector<IndexedReport> m_waiting;
    uint64_t m_addedCount = 0;
    uint64_t m_doneCount = 0;
    bool m_ending = false;
    std::thread m_thread;  // last: starts once the rest is ready
};
