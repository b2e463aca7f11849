#include "server/minidump/minidump_reader.h"

#include <algorithm>

#include "server/minidump/cpu_context.h"

namespace {

constexpr uint32_t kSignature = 0x504D444D;  // "MDMP"
constexpr uint32_t kVersion = 0xA793;

// Sizes of the fixed structures, and where their fields are.
constexpr uint64_t kHeaderSize = 32;
constexpr uint64_t kDirectoryEntrySize = 12;
constexpr uint64_t kSystemInfoSize = 56;
constexpr uint64_t kExceptionStreamSize = 168;
constexpr uint64_t kModuleSize = 108;
constexpr uint64_t kFixedFileInfoOffset = 24;  // inside a module entry
constexpr uint64_t kThreadSize = 48;
constexpr uint64_t kMemoryDescriptorSize = 16;
constexpr uint64_t kMemory64DescriptorSize = 16;
constexpr uint64_t kUnloadedModuleSize = 24;
constexpr uint64_t kMiscInfoSize = 24;
constexpr uint32_t kMaxExceptionParameters = 15;

enum StreamType : uint32_t
{
    kThreadListStream = 3,
    kModuleListStream = 4,
    kMemoryListStream = 5,
    kExceptionStream = 6,
    kSystemInfoStream = 7,
    kMemory64ListStream = 9,
    kUnloadedModuleListStream = 14,
    kMiscInfoStream = 15,
};

// Names and CodeView records are short; a longer one is corrupt, and the
// cap keeps what a hostile file can make us copy small.
constexpr uint64_t kMaxNameBytes = 64 * 1024;
constexpr uint64_t kMaxCodeViewBytes = 64 * 1024;

constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
constexpr uint32_t kCodeViewRsds = 0x53445352;  // "RSDS"
constexpr uint32_t kCodeViewNb10 = 0x3031424E;  // "NB10"
constexpr uint32_t kWineMagic = 0x454E4957;     // "WINE"

const char* NameStream(uint32_t type)
{
    switch (type) {
    case kThreadListStream: return "thread list";
    case kModuleListStream: return "module list";
    case kMemoryListStream: return "memory list";
    case kExceptionStream: return "exception";
    case kSystemInfoStream: return "system info";
    case kMemory64ListStream: return "64-bit memory list";
    case kUnloadedModuleListStream: return "unloaded module list";
    case kMiscInfoStream: return "misc info";
    default: return "unknown";
    }
}

void AddProblem(Minidump& dump, uint32_t type, const std::string& what)
{
    dump.problems.push_back(std::string(NameStream(type)) + " stream: " + what);
}

// A count of entries the stream has no room for is a problem, and only the
// entries that fit are read.
uint64_t ClampClaimedCount(Minidump& dump, uint32_t type, uint64_t count, uint64_t room, const char* entries)
{
    if (count <= room)
        return count;
    AddProblem(dump, type, std::to_string(count) + " " + entries + " claimed, " + std::to_string(room) +
                               " fit in the stream");
    return room;
}

// A MINIDUMP_STRING: a byte length, then UTF-16 without its terminator.
// Many entries may name the same bytes, so all names read from one file
// together get at most the file's size (budget); a real dump stores each
// name once. Returns null, or why the name was not read.
const char* ReadDumpString(ByteView file, uint64_t rva, std::string& text, uint64_t& budget)
{
    if (!HasBytes(file, rva, 4))
        return "name out of the file";
    uint64_t bytes = LoadU32(file.data + rva);
    if (bytes > kMaxNameBytes || !HasBytes(file, rva + 4, bytes))
        return "name out of the file";
    if (bytes > budget)
        return "names beyond the file's size";
    budget -= bytes;
    text = ConvertUtf16ToUtf8(file.data + rva + 4, bytes / 2);
    return nullptr;
}

// A MINIDUMP_LOCATION_DESCRIPTOR (size, then offset) at offset in view.
ByteView ReadLocation(ByteView file, ByteView view, uint64_t offset)
{
    return SliceBytes(file, FieldU32(view, offset + 4), FieldU32(view, offset));
}

// Lists start with a 32-bit count; some writers pad it to 8 bytes. Returns
// where the entries start and how many of them are there.
uint64_t LocateEntries(Minidump& dump, uint32_t type, ByteView stream, uint64_t entrySize,
                       uint64_t& first)
{
    if (stream.size < 4) {
        AddProblem(dump, type, "shorter than its count");
        return 0;
    }
    uint64_t count = FieldU32(stream, 0);
    first = 4;
    if (stream.size == 8 + count * entrySize)
        first = 8;
    return ClampClaimedCount(dump, type, count, (stream.size - first) / entrySize, "entries");
}

void ReadSystemInfo(Minidump& dump, ByteView stream, uint64_t streamEnd, uint64_t& budget)
{
    if (stream.size < kSystemInfoSize) {
        AddProblem(dump, kSystemInfoStream, "too short");
        return;
    }
    SystemInfo& info = dump.system;
    info.present = true;
    info.rawArchitecture = FieldU16(stream, 0);
    switch (info.rawArchitecture) {
    case 0: info.architecture = CpuArchitecture::X86; break;
    case 5: info.architecture = CpuArchitecture::Arm; break;
    case 9: info.architecture = CpuArchitecture::X64; break;
    case 12: info.architecture = CpuArchitecture::Arm64; break;
    default: info.architecture = CpuArchitecture::Unknown; break;
    }
    info.processorLevel = FieldU16(stream, 2);
    info.processorRevision = FieldU16(stream, 4);
    info.processorCount = stream.data[6];
    info.productType = stream.data[7];
    info.majorVersion = FieldU32(stream, 8);
    info.minorVersion = FieldU32(stream, 12);
    info.buildNumber = FieldU32(stream, 16);
    info.platformId = FieldU32(stream, 20);
    if (const char* why = ReadDumpString(dump.file, FieldU32(stream, 24), info.servicePack, budget))
        AddProblem(dump, kSystemInfoStream, std::string("service pack: ") + why);
    // Windows stores the x86 vendor text here; Wine stores feature bits for
    // x64, so only a fully printable text is taken.
    if (info.architecture == CpuArchitecture::X86 || info.architecture == CpuArchitecture::X64) {
        std::string vendor(reinterpret_cast<const char*>(stream.data + 32), 12);
        if (std::all_of(vendor.begin(), vendor.end(), [](char c) { return c >= 0x20 && c < 0x7F; }))
            info.cpuVendor = vendor;
    }

    // Wine's dbghelp follows the structure with a block of its own: "WINE",
    // then a count and that many offsets of NUL-terminated strings (its
    // version, the host system and its release), relative to the count.
    ByteView file = dump.file;
    if (!HasBytes(file, streamEnd, 8) || LoadU32(file.data + streamEnd) != kWineMagic)
        return;
    dump.madeByWine = true;
    uint64_t base = streamEnd + 4;
    uint64_t count = std::min<uint64_t>(LoadU32(file.data + base), 3);
    std::string parts[3];
    for (uint64_t i = 0; i < count; ++i) {
        if (!HasBytes(file, base + 4 + 4 * i, 4))
            break;
        uint64_t at = base + LoadU32(file.data + base + 4 + 4 * i);
        for (uint64_t n = 0; n < 256 && HasBytes(file, at + n, 1) && file.data[at + n] != 0; ++n)
            parts[i] += static_cast<char>(file.data[at + n]);
    }
    dump.wineVersion = parts[0];
    if (!parts[1].empty())
        dump.wineVersion += " on " + parts[1] + (parts[2].empty() ? "" : " " + parts[2]);
}

void ReadCodeView(ByteView record, ModuleInfo& module, uint64_t& budget)
{
    if (record.size < 4 || record.size > kMaxCodeViewBytes || record.size > budget)
        return;
    budget -= record.size;
    uint32_t kind = FieldU32(record, 0);
    uint64_t nameAt = 0;
    if (kind == kCodeViewRsds && record.size >= 24) {
        std::copy(record.data + 4, record.data + 20, module.pdbGuid);
        module.pdbAge = FieldU32(record, 20);
        nameAt = 24;
    } else if (kind == kCodeViewNb10 && record.size >= 16) {
        std::copy(record.data + 8, record.data + 12, module.pdbGuid);
        module.pdbAge = FieldU32(record, 12);
        nameAt = 16;
    } else {
        return;
    }
    module.hasPdb = true;
    for (uint64_t i = nameAt; i < record.size && record.data[i] != 0; ++i)
        module.pdbName += static_cast<char>(record.data[i]);
}

void ReadModuleList(Minidump& dump, ByteView stream, uint64_t& budget)
{
    uint64_t first = 0;
    uint64_t count = LocateEntries(dump, kModuleListStream, stream, kModuleSize, first);
    dump.modules.reserve(count);
    for (uint64_t i = 0; i < count; ++i) {
        ByteView entry = SliceBytes(stream, first + i * kModuleSize, kModuleSize);
        ModuleInfo module;
        module.base = FieldU64(entry, 0);
        module.size = FieldU32(entry, 8);
        module.checksum = FieldU32(entry, 12);
        module.timestamp = FieldU32(entry, 16);
        if (const char* why = ReadDumpString(dump.file, FieldU32(entry, 20), module.path, budget))
            AddProblem(dump, kModuleListStream, "module " + std::to_string(i) + ": " + why);
        if (FieldU32(entry, kFixedFileInfoOffset) == kFixedFileInfoSignature) {
            uint32_t high = FieldU32(entry, kFixedFileInfoOffset + 8);
            uint32_t low = FieldU32(entry, kFixedFileInfoOffset + 12);
            module.hasVersion = true;
            module.fileVersion[0] = static_cast<uint16_t>(high >> 16);
            module.fileVersion[1] = static_cast<uint16_t>(high);
            module.fileVersion[2] = static_cast<uint16_t>(low >> 16);
            module.fileVersion[3] = static_cast<uint16_t>(low);
        }
        ByteView codeView = ReadLocation(dump.file, entry, 76);
        if (codeView.size == 0 && FieldU32(entry, 76) != 0)
            AddProblem(dump, kModuleListStream, "module " + std::to_string(i) + ": CodeView record out of the file");
        ReadCodeView(codeView, module, budget);
        dump.modules.push_back(std::move(module));
    }
    std::sort(dump.modules.begin(), dump.modules.end(),
              [](const ModuleInfo& a, const ModuleInfo& b) { return a.base < b.base; });
}

void AddMemoryRange(Minidump& dump, uint32_t type, uint64_t address, uint64_t size, uint64_t offset)
{
    if (!HasBytes(dump.file, offset, size)) {
        AddProblem(dump, type, "memory at " + FormatHex(address) + " lies past the end of the file");
        return;
    }
    if (size != 0)
        dump.memory.push_back(MemoryRange{address, size, offset});
}

void ReadThreadList(Minidump& dump, ByteView stream, CpuArchitecture architecture)
{
    uint64_t first = 0;
    uint64_t count = LocateEntries(dump, kThreadListStream, stream, kThreadSize, first);
    dump.threads.reserve(count);
    for (uint64_t i = 0; i < count; ++i) {
        ByteView entry = SliceBytes(stream, first + i * kThreadSize, kThreadSize);
        ThreadInfo thread;
        thread.id = FieldU32(entry, 0);
        thread.suspendCount = FieldU32(entry, 4);
        thread.priorityClass = FieldU32(entry, 8);
        thread.priority = FieldU32(entry, 12);
        thread.teb = FieldU64(entry, 16);
        thread.stackStart = FieldU64(entry, 24);
        thread.stackSize = FieldU32(entry, 32);
        AddMemoryRange(dump, kThreadListStream, thread.stackStart, thread.stackSize, FieldU32(entry, 36));
        if (!ReadCpuContext(ReadLocation(dump.file, entry, 40), architecture, thread.context))
            AddProblem(dump, kThreadListStream, "thread " + std::to_string(thread.id) + ": no context read");
        dump.threads.push_back(thread);
    }
}

void ReadMemoryList(Minidump& dump, ByteView stream)
{
    uint64_t first = 0;
    uint64_t count = LocateEntries(dump, kMemoryListStream, stream, kMemoryDescriptorSize, first);
    for (uint64_t i = 0; i < count; ++i) {
        ByteView entry = SliceBytes(stream, first + i * kMemoryDescriptorSize, kMemoryDescriptorSize);
        AddMemoryRange(dump, kMemoryListStream, FieldU64(entry, 0), FieldU32(entry, 8), FieldU32(entry, 12));
    }
}

// The full-memory form: descriptors hold no offsets; the ranges' bytes
// follow each other from one base offset.
void ReadMemory64List(Minidump& dump, ByteView stream)
{
    if (stream.size < 16) {
        AddProblem(dump, kMemory64ListStream, "shorter than its header");
        return;
    }
    uint64_t count = FieldU64(stream, 0);
    uint64_t offset = FieldU64(stream, 8);
    const uint64_t room = (stream.size - 16) / kMemory64DescriptorSize;
    count = ClampClaimedCount(dump, kMemory64ListStream, count, room, "ranges");
    for (uint64_t i = 0; i < count; ++i) {
        ByteView entry = SliceBytes(stream, 16 + i * kMemory64DescriptorSize, kMemory64DescriptorSize);
        uint64_t address = FieldU64(entry, 0);
        uint64_t size = FieldU64(entry, 8);
        if (!HasBytes(dump.file, offset, size)) {
            AddProblem(dump, kMemory64ListStream,
                       "memory from " + FormatHex(address) + " on lies past the end of the file");
            return;
        }
        if (size != 0)
            dump.memory.push_back(MemoryRange{address, size, offset});
        offset += size;
    }
}

void ReadException(Minidump& dump, ByteView stream, CpuArchitecture architecture)
{
    if (stream.size < kExceptionStreamSize) {
        AddProblem(dump, kExceptionStream, "too short");
        return;
    }
    ExceptionInfo& exception = dump.exception;
    exception.present = true;
    exception.threadId = FieldU32(stream, 0);
    exception.code = FieldU32(stream, 8);
    exception.flags = FieldU32(stream, 12);
    exception.recordAddress = FieldU64(stream, 16);
    exception.address = FieldU64(stream, 24);
    uint32_t count = FieldU32(stream, 32);
    if (count > kMaxExceptionParameters) {
        AddProblem(dump, kExceptionStream, std::to_string(count) + " parameters claimed, at most 15 exist");
        count = kMaxExceptionParameters;
    }
    for (uint32_t i = 0; i < count; ++i)
        exception.parameters.push_back(FieldU64(stream, 40 + 8 * static_cast<uint64_t>(i)));
    if (!ReadCpuContext(ReadLocation(dump.file, stream, 160), architecture, exception.context))
        AddProblem(dump, kExceptionStream, "no context read");
}

void ReadMiscInfo(Minidump& dump, ByteView stream)
{
    if (stream.size < kMiscInfoSize || FieldU32(stream, 0) < kMiscInfoSize) {
        AddProblem(dump, kMiscInfoStream, "too short");
        return;
    }
    MiscInfo& misc = dump.misc;
    misc.present = true;
    uint32_t flags = FieldU32(stream, 4);
    misc.hasProcessId = (flags & 1) != 0;
    misc.processId = FieldU32(stream, 8);
    misc.hasProcessTimes = (flags & 2) != 0;
    misc.processCreateTime = FieldU32(stream, 12);
}

void ReadUnloadedModules(Minidump& dump, ByteView stream, uint64_t& budget)
{
    if (stream.size < 12) {
        AddProblem(dump, kUnloadedModuleListStream, "shorter than its header");
        return;
    }
    uint64_t headerSize = FieldU32(stream, 0);
    uint64_t entrySize = FieldU32(stream, 4);
    uint64_t count = FieldU32(stream, 8);
    if (headerSize < 12 || headerSize > stream.size || entrySize < kUnloadedModuleSize) {
        AddProblem(dump, kUnloadedModuleListStream, "header or entry size impossible");
        return;
    }
    const uint64_t room = (stream.size - headerSize) / entrySize;
    count = ClampClaimedCount(dump, kUnloadedModuleListStream, count, room, "entries");
    dump.unloadedModules.reserve(count);
    for (uint64_t i = 0; i < count; ++i) {
        ByteView entry = SliceBytes(stream, headerSize + i * entrySize, kUnloadedModuleSize);
        UnloadedModule module;
        module.base = FieldU64(entry, 0);
        module.size = FieldU32(entry, 8);
        module.timestamp = FieldU32(entry, 16);
        if (const char* why = ReadDumpString(dump.file, FieldU32(entry, 20), module.path, budget))
            AddProblem(dump, kUnloadedModuleListStream, "module " + std::to_string(i) + ": " + why);
        dump.unloadedModules.push_back(std::move(module));
    }
}

struct StreamEntry
{
    uint32_t type = 0;
    ByteView data;
    uint64_t end = 0;  // where the stream's declared bytes end in the file
};

}  // namespace

Minidump ReadMinidump(ByteView file)
{
    Minidump dump;
    dump.file = file;
    if (!HasBytes(file, 0, kHeaderSize)) {
        dump.refusal = "shorter than a minidump header";
        return dump;
    }
    ByteView header = SliceBytes(file, 0, kHeaderSize);
    if (FieldU32(header, 0) != kSignature) {
        dump.refusal = "no MDMP signature";
        return dump;
    }
    dump.readable = true;
    if ((FieldU32(header, 4) & 0xFFFF) != kVersion)
        dump.problems.push_back("header: unexpected version " + FormatHex(FieldU32(header, 4) & 0xFFFF));
    uint64_t streamCount = FieldU32(header, 8);
    uint64_t directory = FieldU32(header, 12);
    dump.timestamp = FieldU32(header, 20);
    dump.flags = FieldU64(header, 24);
    uint64_t room = directory <= file.size ? (file.size - directory) / kDirectoryEntrySize : 0;
    if (streamCount > room) {
        dump.problems.push_back("directory: " + std::to_string(streamCount) + " streams claimed, " +
                                std::to_string(room) + " fit in the file");
        streamCount = room;
    }

    // The streams this reader knows, the first of each type; the system
    // info goes first because the contexts' layout depends on it.
    StreamEntry known[16];
    for (uint64_t i = 0; i < streamCount; ++i) {
        ByteView entry = SliceBytes(file, directory + i * kDirectoryEntrySize, kDirectoryEntrySize);
        uint32_t type = FieldU32(entry, 0);
        if (type >= 16 || std::string(NameStream(type)) == "unknown")
            continue;
        uint64_t size = FieldU32(entry, 4);
        uint64_t rva = FieldU32(entry, 8);
        if (known[type].end != 0) {
            AddProblem(dump, type, "a second one ignored");
            continue;
        }
        if (!HasBytes(file, rva, size)) {
            AddProblem(dump, type, "lies past the end of the file");
            continue;
        }
        known[type] = StreamEntry{type, SliceBytes(file, rva, size), rva + size};
    }

    uint64_t textBudget = file.size;
    if (known[kSystemInfoStream].end != 0)
        ReadSystemInfo(dump, known[kSystemInfoStream].data, known[kSystemInfoStream].end, textBudget);
    CpuArchitecture architecture = dump.system.architecture;
    if (known[kModuleListStream].end != 0)
        ReadModuleList(dump, known[kModuleListStream].data, textBudget);
    if (known[kThreadListStream].end != 0)
        ReadThreadList(dump, known[kThreadListStream].data, architecture);
    if (known[kMemoryListStream].end != 0)
        ReadMemoryList(dump, known[kMemoryListStream].data);
    if (known[kMemory64ListStream].end != 0)
        ReadMemory64List(dump, known[kMemory64ListStream].data);
    if (known[kExceptionStream].end != 0)
        ReadException(dump, known[kExceptionStream].data, architecture);
    if (known[kMiscInfoStream].end != 0)
        ReadMiscInfo(dump, known[kMiscInfoStream].data);
    if (known[kUnloadedModuleListStream].end != 0)
        ReadUnloadedModules(dump, known[kUnloadedModuleListStream].data, textBudget);

    // Thread stacks usually appear in the memory list too.
    // Writers list the ranges in order: sorted only when they are not.
    const auto byAddress = [](const MemoryRange& a, const MemoryRange& b) {
        return a.address != b.address ? a.address < b.address : a.size > b.size;
    };
    if (!std::is_sorted(dump.memory.begin(), dump.memory.end(), byAddress))
        std::sort(dump.memory.begin(), dump.memory.end(), byAddress);
    dump.memory.erase(std::unique(dump.memory.begin(), dump.memory.end(),
                                  [](const MemoryRange& a, const MemoryRange& b) {
                                      return a.address == b.address && a.size == b.size;
                                  }),
                      dump.memory.end());
    return dump;
}

bool ReadDumpMemory(const Minidump& dump, uint64_t address, uint64_t length, uint8_t* out)
{
    auto after = std::upper_bound(dump.memory.begin(), dump.memory.end(), address,
                                  [](uint64_t a, const MemoryRange& range) { return a < range.address; });
    // The ranges are sorted by start; a few before the one found may still
    // hold the address when ranges overlap, so look back a little.
    for (int back = 0; back < 4 && after != dump.memory.begin(); ++back) {
        const MemoryRange& range = *--after;
        uint64_t skip = address - range.address;
        if (skip < range.size && length <= range.size - skip) {
            std::copy(dump.file.data + range.fileOffset + skip,
                      dump.file.data + range.fileOffset + skip + length, out);
            return true;
        }
    }
    return false;
}

const ModuleInfo* FindModuleAt(const Minidump& dump, uint64_t address)
{
    auto after = std::upper_bound(dump.modules.begin(), dump.modules.end(), address,
                                  [](uint64_t a, const ModuleInfo& module) { return a < module.base; });
    if (after == dump.modules.begin())
        return nullptr;
    const ModuleInfo& module = *(after - 1);
    return address - module.base < module.size ? &module : nullptr;
}

std::string GetModuleFileName(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
