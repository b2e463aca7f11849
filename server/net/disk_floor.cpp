#include "server/net/disk_floor.h"

#include <errno.h>
#include <sys/statvfs.h>

#include <cstring>

#include "server/net/refusal_log.h"

namespace {

std::string FormatMiB(uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

}  // namespace

DiskFloor::DiskFloor(const std::string& folder, const ServeLimits& limits, RefusalLog* log)
    : m_folder(folder), m_limits(limits), m_log(log), m_off(limits.diskFloorOff)
{
}

bool DiskFloor::HasRoom(uint64_t needed, std::string& reason)
{
    if (m_off)
        return true;
    uint64_t freeBytes = 0;
    uint64_t totalBytes = 0;
    std::string error;
    if (!ReadFreeSpace(m_folder, freeBytes, totalBytes, error)) {
        reason = error;
        return false;
    }
    const uint64_t floor = ResolveDiskFloor(m_limits, totalBytes);
    const bool room = freeBytes >= floor && freeBytes - floor >= needed;

    std::lock_guard<std::mutex> lock(m_mutex);
    // One line when uploads start being refused for space and one when they
    // are taken again, not one per upload; through the limited log, as
    // uploads of very different sizes near the floor could flip it often.
    if (room == m_refusing && m_log != nullptr) {
        m_log->Write("brevora-report-server: " +
                     std::string(room ? "free space back above the floor: uploads accepted again ("
                                      : "free space at the floor: uploads refused with 507 (") +
                     FormatMiB(freeBytes) + " free in " + m_folder + ", floor " + FormatMiB(floor) + ")");
    }
    m_refusing = !room;
    if (!room) {
        reason = "not enough free space on the server to store the report; try again later";
    }
    return room;
}

bool ReadFreeSpace(const std::string& folder, uint64_t& freeBytes, uint64_t& totalBytes, std::string& error)
{
    struct statvfs info;
    if (statvfs(folder.c_str(), &info) != 0) {
        error = "cannot read the free space of '" + folder + "': " + std::strerror(errno);
        return false;
    }
    freeBytes = static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
    totalBytes = static_cast<uint64_t>(info.f_blocks) * info.f_frsize;
    return true;
}
