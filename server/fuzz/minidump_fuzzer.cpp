// libFuzzer target for the crash dump reader. An input is a 32-bit length,
// that many bytes of minidump, and a PE image in the rest; the dump is
// walked with the image as the binary of its modules (the seeds make them
// match, so that the unwinder runs on what the fuzzer makes of the stack).
// Beyond "no crash, no sanitizer report", a refusal must come with a reason
// and every memory range the reader keeps must lie in the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "server/minidump/crash_text.h"
#include "server/minidump/minidump_reader.h"
#include "server/minidump/x64_unwind.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint64_t dumpSize = size >= 4 ? LoadU32(data) : 0;
    ByteView rest{data + (size >= 4 ? 4 : size), size >= 4 ? size - 4 : 0};
    ByteView dumpBytes = HasBytes(rest, 0, dumpSize) ? SliceBytes(rest, 0, dumpSize) : rest;
    ByteView imageBytes = HasBytes(rest, 0, dumpSize) ? ByteView{rest.data + dumpSize, rest.size - dumpSize} : ByteView{};

    Minidump dump = ReadMinidump(dumpBytes);
    if (!dump.readable && dump.refusal.empty())
        std::abort();
    for (const MemoryRange& range : dump.memory)
        if (!HasBytes(dumpBytes, range.fileOffset, range.size))
            std::abort();

    PeImage image = ReadPeImage(imageBytes);
    if (!image.readable && image.refusal.empty())
        std::abort();
    for (const RuntimeFunction& function : image.functions) {
        UnwindInfo info;
        std::string error;
        if (!ReadUnwindInfo(image, function.unwindInfo, info, error) && error.empty())
            std::abort();
    }
    if (dump.readable)
        FormatProcessedCrash(dump, ProcessCrash(dump, {&image}));
    return 0;
}
