// The guarded server's workers.
#pragma once

#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

// Workers started as connections arrive and none is free, up to a cap;
// they stay for the server's life. httplib's own pool has a fixed 8. Its
// shutdown (the end of listening) signals stopEvent first, so that workers
// waiting on slow clients let go at once.
class GrowingPool : public httplib::TaskQueue
{
public:
    GrowingPool(size_t maxThreads, int stopEvent);
    ~GrowingPool() override { shutdown(); }

    void enqueue(std::function<void()> fn) override;

    void shutdown() override;

private:
    void Work();

    size_t m_maxThreads;
    int m_stopEvent;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_jobs;
    std::list<std::thread> m_threads;
    size_t m_idle = 0;
    bool m_shutdown = false;
};
