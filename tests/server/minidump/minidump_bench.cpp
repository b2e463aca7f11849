// Not a test: how long processing a crash dump takes (read, walk, signature
// and text), what the reader keeps and the process's peak memory (which
// includes the dump's bytes, and the building of the large one).
//
//   minidump_bench [DUMP [BINARY...]]
//
// Without a DUMP it times a small built dump; it always times a built
// 64 MiB full-memory dump (16,384 ranges of 4 KiB in a 64-bit memory list).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "server/minidump/crash_text.h"
#include "server/minidump/minidump_reader.h"
#include "tests/server/minidump/dump_builder.h"

namespace {

Bytes ReadFile(const char* path)
{
    std::ifstream file(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// The small built dump with a 64-bit memory list of size bytes added.
Bytes MakeFullMemoryDump(uint64_t size)
{
    CrashSpec spec;
    spec.rip = 0x140001010;
    spec.registers = {{kRsp, 0x10000}};
    spec.modules = {{u"C:\\app\\brevora.exe", 0x140000000, 0x5000, 1}};
    spec.stack = Bytes(0x4000, 0);
    Bytes bytes = MakeCrashDump(spec);
    uint32_t directory = bytes[12] | bytes[13] << 8 | bytes[14] << 16 | bytes[15] << 24;
    Bytes entries(bytes.begin() + directory, bytes.end());
    bytes.resize(directory);
    const uint64_t range = 4096;
    Bytes list;
    Put(list, 8, {size / range, bytes.size()});
    for (uint64_t i = 0; i < size / range; ++i) {
        Put(list, 8, {0x7FF000000000 + 2 * range * i, range});
    }
    bytes.resize(bytes.size() + size, 0x5A);
    uint32_t listAt = static_cast<uint32_t>(bytes.size());
    bytes.insert(bytes.end(), list.begin(), list.end());
    uint32_t newDirectory = static_cast<uint32_t>(bytes.size());
    bytes.insert(bytes.end(), entries.begin(), entries.end());
    Put(bytes, 4, {9, list.size(), listAt});
    SetU32(bytes, 8, entries.size() / 12 + 1);
    SetU32(bytes, 12, newDirectory);
    return bytes;
}

void Time(const char* name, const Bytes& dumpBytes, const std::vector<Bytes>& binaryBytes, int rounds)
{
    std::vector<PeImage> images;
    for (const Bytes& bytes : binaryBytes)
        images.push_back(ReadPeImage(ByteView{bytes.data(), bytes.size()}));
    std::vector<const PeImage*> binaries;
    for (const PeImage& image : images)
        binaries.push_back(&image);
    std::vector<double> times;
    size_t frames = 0, textSize = 0, held = 0;
    for (int i = 0; i < rounds; ++i) {
        auto start = std::chrono::steady_clock::now();
        Minidump dump = ReadMinidump(ByteView{dumpBytes.data(), dumpBytes.size()});
        ProcessedCrash crash = ProcessCrash(dump, binaries);
        std::string text = FormatProcessedCrash(dump, crash);
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        frames = crash.frames.size();
        // What the reader itself keeps: offsets into the caller's bytes,
        // never a copy of the process's memory.
        held = dump.memory.capacity() * sizeof(MemoryRange) + dump.modules.capacity() * sizeof(ModuleInfo) +
               dump.threads.capacity() * sizeof(ThreadInfo);
        textSize = text.size();
    }
    std::sort(times.begin(), times.end());
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%-28s %10.1f KiB  %3zu frames  %6zu bytes of text  median %.3f ms  (min %.3f, max %.3f, %d rounds)  "
                "reader holds %.1f KiB, peak RSS %ld KiB\n",
                name, dumpBytes.size() / 1024.0, frames, textSize, times[times.size() / 2], times.front(),
                times.back(), rounds, held / 1024.0, usage.ru_maxrss);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2) {
        std::vector<Bytes> binaries;
        for (int i = 2; i < argc; ++i)
            binaries.push_back(ReadFile(argv[i]));
        Time("given dump, no binary", ReadFile(argv[1]), {}, 200);
        if (!binaries.empty())
            Time("given dump, with binaries", ReadFile(argv[1]), binaries, 200);
    } else {
        Time("built dump", MakeFullMemoryDump(0), {}, 200);
    }
    Time("built 64 MiB full-memory dump", MakeFullMemoryDump(64ull << 20), {}, 20);
    return 0;
}
