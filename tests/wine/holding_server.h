// A peer on the reporter's port that takes every connection and reads its
// request whole, but answers only when told: a report server that holds the
// requests, as a slow or hung one would.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class HoldingServer
{
public:
    HoldingServer();   // listens and takes connections on a thread of its own
    ~HoldingServer();  // closes every connection
    HoldingServer(const HoldingServer&) = delete;
    HoldingServer& operator=(const HoldingServer&) = delete;

    bool IsListening() const { return m_listener != INVALID_SOCKET; }

    // Waits until count requests have arrived whole; false when not in time.
    bool WaitForRequests(size_t count, DWORD timeoutMs);
    // The first line of each request that arrived, in order.
    std::vector<std::string> RequestLines();
    // Answers every request held with this status line and no body, and
    // closes its connection.
    void AnswerAll(const std::string& statusLine);
    // For each request: the milliseconds from its arrival until the client
    // gave up and closed the connection; 0 while it is open or was answered.
    std::vector<DWORD> HeldUntilClosedMs();

private:
    struct Client
    {
        SOCKET socket;
        std::string received;
        bool whole;
        DWORD arrivedTick;
        DWORD closedTick;
    };

    void Serve();
    void Receive(Client& client);

    bool m_winsock;
    SOCKET m_listener;
    bool m_stopping;
    std::vector<Client> m_clients;
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::thread m_thread;
};
