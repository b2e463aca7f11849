#include "server/base/file_io.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace {

// Closes a file descriptor when it goes out of scope.
class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int Get() const { return m_fd; }

    // Closes now so that a failing close (a full disk on NFS) is seen.
    bool Close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return close(fd) == 0;
    }

private:
    int m_fd;
};

std::string DescribeErrno(const std::string& what, const std::string& path, int code)
{
    return what + " '" + path + "': " + std::strerror(code);
}

}  // namespace

bool CreateFolders(const std::string& path, std::string& error)
{
    if (path.empty()) {
        error = "no folder name";
        return false;
    }
    // Each prefix that ends before a slash, then the whole path.
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
            error = "'" + prefix + "': " + std::strerror(errno);
            return false;
        }
        if (slash == std::string::npos)
            break;
    }
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = "'" + path + "' is not a folder";
        return false;
    }
    return true;
}

ReadResult ReadWholeFile(const std::string& path, std::string& bytes, std::string& error)
{
    FileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        if (errno == ENOENT)
            return ReadResult::Missing;
        error = DescribeErrno("cannot open", path, errno);
        return ReadResult::Failed;
    }
    bytes.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(fd.Get(), buffer, sizeof buffer);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            error = DescribeErrno("cannot read", path, errno);
            return ReadResult::Failed;
        }
        bytes.append(buffer, static_cast<size_t>(got));
    }
    return ReadResult::Read;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string& error)
{
    FileDescriptor fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.Get() < 0) {
        error = DescribeErrno("cannot create", path, errno);
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = write(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            error = DescribeErrno("cannot write", path, errno);
            return false;
        }
        done += static_cast<size_t>(put);
    }
    if (!fd.Close()) {
        error = DescribeErrno("cannot write", path, errno);
        return false;
    }
    return true;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& bytes, std::string& error)
{
    const std::string temporary = path + ".new";
    if (!WriteWholeFile(temporary, bytes, error))
        return false;
    FileDescriptor fd(open(temporary.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0 || fsync(fd.Get()) != 0) {
        error = DescribeErrno("cannot sync", temporary, errno);
        unlink(temporary.c_str());
        return false;
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        error = DescribeErrno("cannot replace", path, errno);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}
