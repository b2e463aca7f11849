#include "tests/server/server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace {

// The child starts with default dispositions for the signals the server
// handles, whatever the test runner ignores or blocks.
pid_t SpawnServer(const std::vector<std::string>& args, int outFd, int errFd, const std::string& program = "")
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> argv;
    std::string path = program.empty() ? GetServerPath() : program;
    argv.push_back(&path[0]);
    std::vector<std::string> copies(args);
    for (std::string& arg : copies)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);

    pid_t pid = -1;
    if (posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return pid;
}

// Waits for pid at most timeoutSeconds; kills it after that.
int WaitForExit(pid_t pid, int timeoutSeconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0)
            return -1;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

const char* GetServerPath()
{
    return BREVORA_REPORT_SERVER_PATH;
}

ProgramResult RunServer(const std::vector<std::string>& args, int timeoutSeconds)
{
    ProgramResult result;
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0)
        return result;
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }
    const pid_t pid = SpawnServer(args, outPipe[1], errPipe[1]);
    close(outPipe[1]);
    close(errPipe[1]);

    // Both pipes at once: a full one would stall the child.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (pid > 0 && open > 0 && std::chrono::steady_clock::now() < deadline) {
        if (poll(fds, 2, 100) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[65536];
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(got));
            } else {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    close(outPipe[0]);
    close(errPipe[0]);
    if (pid > 0)
        result.exitStatus = WaitForExit(pid, 1 + static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(
                                                     deadline - std::chrono::steady_clock::now()).count()));
    return result;
}

ServerProcess::~ServerProcess()
{
    if (m_pid > 0)
        Stop(SIGKILL, 5);
}

bool ServerProcess::Start(const std::vector<std::string>& args)
{
    int errPipe[2];
    if (pipe2(errPipe, O_CLOEXEC) != 0)
        return false;
    std::vector<std::string> serveArgs = {"serve"};
    serveArgs.insert(serveArgs.end(), args.begin(), args.end());
    m_pid = SpawnServer(serveArgs, -1, errPipe[1], m_path);
    close(errPipe[1]);
    if (m_pid < 0) {
        close(errPipe[0]);
        return false;
    }
    m_reader = std::thread(&ServerProcess::ReadStderr, this, errPipe[0]);

    // "brevora-report-server: listening on 127.0.0.1:PORT, ..."
    const std::string marker = "listening on ";
    std::unique_lock<std::mutex> lock(m_mutex);
    const bool listening = m_changed.wait_for(lock, std::chrono::seconds(20), [&] {
        return m_stderrClosed || m_stderr.find(", data in") != std::string::npos;
    });
    const size_t at = m_stderr.find(marker);
    if (!listening || at == std::string::npos)
        return false;
    const size_t comma = m_stderr.find(',', at);
    const size_t colon = m_stderr.rfind(':', comma);
    m_port = std::atoi(m_stderr.c_str() + colon + 1);
    return m_port > 0;
}

void ServerProcess::ReadStderr(int fd)
{
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (got <= 0) {
            m_stderrClosed = true;
            m_changed.notify_all();
            break;
        }
        m_stderr.append(buffer, static_cast<size_t>(got));
        m_changed.notify_all();
    }
    close(fd);
}

std::string ServerProcess::Stderr()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stderr;
}

bool ServerProcess::WaitForStderr(const std::string& text, int timeoutSeconds)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::seconds(timeoutSeconds),
                              [&] { return m_stderr.find(text) != std::string::npos; });
}

int ServerProcess::Stop(int signal, int timeoutSeconds)
{
    if (m_pid <= 0)
        return -1;
    kill(m_pid, signal);
    const int status = WaitForExit(m_pid, timeoutSeconds);
    m_pid = -1;
    if (m_reader.joinable())
        m_reader.join();
    return status;
}
