#include "server/net/refusal_log.h"

#include "server/base/log_text.h"

RefusalLog::RefusalLog(FILE* log, double linesPerSecond, double burst) : m_log(log)
{
    RateRule rule;
    rule.count = burst;
    rule.seconds = burst / linesPerSecond;
    m_limit.push_back(rule);
    m_buckets = RateBuckets(m_limit, GetSteadySeconds());
}

void RefusalLog::Write(const std::string& line)
{
    Write([&line]() { return line; });
}

void RefusalLog::Write(const std::function<std::string()>& makeLine)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int retryAfter = 0;
    if (!m_buckets.Take(m_limit, GetSteadySeconds(), retryAfter)) {
        ++m_dropped;
        ++m_droppedTotal;
        return;
    }
    Emit(makeLine());
}

void RefusalLog::WriteRefusal(const std::string& peer, const std::string& reason)
{
    Write([&]() { return FormatUtcNow() + " " + peer + " refused \"" + EscapeControlBytes(reason, false) + "\""; });
}

void RefusalLog::WriteAlways(const std::string& line)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Emit(line);
}

uint64_t RefusalLog::CountDropped()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_droppedTotal;
}

void RefusalLog::Emit(const std::string& line)
{
    if (m_log == nullptr)
        return;
    std::string text;
    if (m_dropped != 0) {
        text = "brevora-report-server: " + std::to_string(m_dropped) +
               " refusal lines left out (over the log's rate)\n";
        m_dropped = 0;
    }
    text += line + "\n";
    // One write per line, so lines of concurrent requests do not mix.
    std::fwrite(text.data(), 1, text.size(), m_log);
    std::fflush(m_log);
}
