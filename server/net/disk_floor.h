// The free-space floor of the data folder: uploads are refused while the
// file system has less free space than it, so the database never runs out
// of room in the middle of a report and queries go on being answered.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "server/net/serve_limits.h"

class RefusalLog;

class DiskFloor
{
public:
    DiskFloor() = default;
    // log (may be null) gets one line when uploads start being refused and
    // one when they are taken again, not one per refused upload.
    DiskFloor(const std::string& folder, const ServeLimits& limits, RefusalLog* log);

    bool IsOff() const { return m_off; }

    // True when the file system has room for needed more bytes above the
    // floor; otherwise sets reason. Thread-safe.
    bool HasRoom(uint64_t needed, std::string& reason);

private:
    std::string m_folder;
    ServeLimits m_limits;
    RefusalLog* m_log = nullptr;
    bool m_off = true;
    std::mutex m_mutex;
    bool m_refusing = false;
};

// Free (for unprivileged writers) and total bytes of the file system
// holding folder.
bool ReadFreeSpace(const std::string& folder, uint64_t& freeBytes, uint64_t& totalBytes, std::string& error);
