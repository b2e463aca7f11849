#include "tests/server/alert_receivers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace {

template <typename T>
std::vector<T> WaitForItems(std::mutex& mutex, std::condition_variable& changed, const std::vector<T>& items,
                            size_t count, int timeoutSeconds)
{
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, std::chrono::seconds(timeoutSeconds), [&] { return items.size() >= count; });
    return items;
}

// One line from client, without its CR LF; false when it hung up.
bool ReadLine(int client, std::string& pending, std::string& line)
{
    for (;;) {
        const size_t end = pending.find("\r\n");
        if (end != std::string::npos) {
            line = pending.substr(0, end);
            pending.erase(0, end + 2);
            return true;
        }
        char buffer[4096];
        const ssize_t n = recv(client, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        pending.append(buffer, static_cast<size_t>(n));
    }
}

void SendLine(int client, const std::string& line)
{
    const std::string text = line + "\r\n";
    send(client, text.data(), text.size(), MSG_NOSIGNAL);
}

}  // namespace

bool WebhookReceiver::Start(int port)
{
    m_server.reset(new httplib::Server());
    m_server->Post("/hook", [this](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hooks.push_back({req.body, req.get_header_value("X-Brevora-Signature")});
        m_changed.notify_all();
        res.status = 204;
    });
    m_port = port == 0 ? m_server->bind_to_any_port("127.0.0.1") : (m_server->bind_to_port("127.0.0.1", port) ? port : -1);
    if (m_port <= 0)
        return false;
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // A stop() before the listening has begun would be lost.
    while (!m_server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void WebhookReceiver::Stop()
{
    if (m_server)
        m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
}

std::vector<ReceivedHook> WebhookReceiver::WaitFor(size_t count, int timeoutSeconds)
{
    return WaitForItems(m_mutex, m_changed, m_hooks, count, timeoutSeconds);
}

bool SmtpSink::Start()
{
    m_listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (m_listener < 0 || bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_listener, 8) != 0 || getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return false;
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] {
        while (!m_stopping) {
            pollfd waiting = {m_listener, POLLIN, 0};
            if (poll(&waiting, 1, 100) != 1)
                continue;
            const int client = accept(m_listener, nullptr, nullptr);
            if (client >= 0) {
                Serve(client);
                close(client);
            }
        }
    });
    return true;
}

// Just enough of RFC 5321 for one client at a time, without TLS: the
// server on loopback that a plain smtp:// URL may name.
void SmtpSink::Serve(int client)
{
    std::string pending;
    std::string line;
    std::string recipient;
    SendLine(client, "220 sink ESMTP");
    while (ReadLine(client, pending, line)) {
        const std::string verb = line.substr(0, 4);
        if (verb == "EHLO" || verb == "HELO") {
            SendLine(client, "250 sink");
        } else if (verb == "RCPT") {
            recipient = line;
            SendLine(client, "250 OK");
        } else if (verb == "DATA") {
            SendLine(client, "354 go on");
            std::string data;
            while (ReadLine(client, pending, line) && line != ".")
                data += line + "\r\n";
            std::lock_guard<std::mutex> lock(m_mutex);
            m_mails.push_back(recipient + "\n" + data);
            m_changed.notify_all();
            SendLine(client, "250 kept");
        } else if (verb == "QUIT") {
            SendLine(client, "221 bye");
            return;
        } else {
            SendLine(client, "250 OK");
        }
    }
}

void SmtpSink::Stop()
{
    m_stopping = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listener >= 0)
        close(m_listener);
    m_listener = -1;
}

std::vector<std::string> SmtpSink::WaitFor(size_t count, int timeoutSeconds)
{
    return WaitForItems(m_mutex, m_changed, m_mails, count, timeoutSeconds);
}
