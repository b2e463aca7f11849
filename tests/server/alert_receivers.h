// The far ends of the alerts, started by a test on loopback: a webhook
// receiver that keeps every POST, and an SMTP sink that keeps every mail.
#pragma once

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ReceivedHook
{
    std::string body;
    std::string signature;  // X-Brevora-Signature
};

class WebhookReceiver
{
public:
    ~WebhookReceiver() { Stop(); }
    // Listens on port (0: a free one); false when it cannot.
    bool Start(int port = 0);
    void Stop();
    int Port() const { return m_port; }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/hook"; }
    // Waits (at most timeoutSeconds) until count posts came; all so far.
    std::vector<ReceivedHook> WaitFor(size_t count, int timeoutSeconds = 20);

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<ReceivedHook> m_hooks;
};

class SmtpSink
{
public:
    ~SmtpSink() { Stop(); }
    bool Start();
    void Stop();
    int Port() const { return m_port; }
    // Waits (at most timeoutSeconds) until count mails came; all so far
    // (the envelope's recipient, a line, then the data as sent).
    std::vector<std::string> WaitFor(size_t count, int timeoutSeconds = 20);

private:
    void Serve(int client);

    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_mails;
};
