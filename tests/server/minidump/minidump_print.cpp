// Not a test: prints what the server makes of a crash dump.
//
//   minidump_print DUMP [--binary FILE...]
//
// Each FILE is a stored release binary (EXE or DLL) that the dump's
// modules are matched to for unwind data and function names. Exit status 1
// when the dump cannot be read at all, 2 on bad arguments.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "server/minidump/crash_text.h"
#include "server/minidump/minidump_reader.h"

static bool ReadFileBytes(const char* path, std::vector<uint8_t>& bytes)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: minidump_print DUMP [--binary FILE...]\n");
        return 2;
    }
    std::vector<std::vector<uint8_t>> binaryBytes;
    for (int i = 2; i < argc; ++i) {
        if (std::string(argv[i]) != "--binary" || i + 1 >= argc) {
            std::fprintf(stderr, "usage: minidump_print DUMP [--binary FILE...]\n");
            return 2;
        }
        binaryBytes.emplace_back();
        if (!ReadFileBytes(argv[++i], binaryBytes.back())) {
            std::fprintf(stderr, "minidump_print: cannot read %s\n", argv[i]);
            return 2;
        }
    }
    std::vector<uint8_t> dumpBytes;
    if (!ReadFileBytes(argv[1], dumpBytes)) {
        std::fprintf(stderr, "minidump_print: cannot read %s\n", argv[1]);
        return 2;
    }
    std::vector<PeImage> images;
    images.reserve(binaryBytes.size());
    for (const auto& bytes : binaryBytes) {
        images.push_back(ReadPeImage(ByteView{bytes.data(), bytes.size()}));
        if (!images.back().readable)
            std::fprintf(stderr, "minidump_print: binary refused: %s\n", images.back().refusal.c_str());
    }
    std::vector<const PeImage*> binaries;
    for (const PeImage& image : images)
        binaries.push_back(&image);

    Minidump dump = ReadMinidump(ByteView{dumpBytes.data(), dumpBytes.size()});
    if (!dump.readable) {
        std::fprintf(stderr, "minidump_print: not a minidump: %s\n", dump.refusal.c_str());
        return 1;
    }
    std::fputs(FormatProcessedCrash(dump, ProcessCrash(dump, binaries)).c_str(), stdout);
    return 0;
}
