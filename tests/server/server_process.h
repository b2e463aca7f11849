// The real brevora-report-server as a child process: run a command to its
// end, or start serve, learn its port and stop it with a signal.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ProgramResult
{
    int exitStatus = -1;  // -1: killed by a signal or timed out
    std::string out;
    std::string err;
};

// The path of the server executable under test.
const char* GetServerPath();

// Runs the server with args and waits (at most timeoutSeconds) for its end.
ProgramResult RunServer(const std::vector<std::string>& args, int timeoutSeconds = 30);

// The same with input (nullptr: none) on standard input.
ProgramResult RunServerWithInput(const std::vector<std::string>& args, const char* input, int timeoutSeconds = 30);

class ServerProcess
{
public:
    ServerProcess() = default;
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Starts "serve" with args and waits for its "listening on" line; with
    // --no-admin unless args choose the maintainers' interface.
    // Returns false (see Stderr()) if it exits or does not listen in time.
    bool Start(const std::vector<std::string>& args);

    int Port() const { return m_port; }
    pid_t Pid() const { return m_pid; }

    // Another executable than the one under test (before Start).
    void SetPath(const std::string& path) { m_path = path; }

    // Standard error so far.
    std::string Stderr();

    // Waits until standard error holds text, at most timeoutSeconds.
    bool WaitForStderr(const std::string& text, int timeoutSeconds = 10);

    // Sends signal and waits for the exit; returns the exit status, or -1
    // when killed by a signal or not ended within timeoutSeconds.
    int Stop(int signal, int timeoutSeconds = 15);

private:
    void ReadStderr(int fd);

    std::string m_path;  // empty: GetServerPath()
    pid_t m_pid = -1;
    int m_port = 0;
    std::thread m_reader;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_stderr;
    bool m_stderrClosed = false;
};
