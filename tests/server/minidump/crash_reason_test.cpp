#include <gtest/gtest.h>

#include "server/minidump/crash_reason.h"
#include "server/minidump/crash_signature.h"

namespace {

TEST(CrashReason, NamesTheKindAndWhatItsParametersSay)
{
    struct Case
    {
        uint32_t code;
        std::vector<uint64_t> parameters;
        const char* description;
    } cases[] = {
        {0xC0000005, {0, 0x10}, "EXCEPTION_ACCESS_VIOLATION_READ at 0x401000 (reading address 0x10)"},
        {0xC0000005, {1, 0}, "EXCEPTION_ACCESS_VIOLATION_WRITE at 0x401000 (writing address 0x0)"},
        {0xC0000005, {8, 0x401000}, "EXCEPTION_ACCESS_VIOLATION_EXEC at 0x401000 (executing address 0x401000)"},
        {0xC0000005, {}, "EXCEPTION_ACCESS_VIOLATION at 0x401000"},
        {0xC0000409, {2}, "EXCEPTION_STACK_BUFFER_OVERRUN at 0x401000 (fail-fast code 2: stack cookie check failure)"},
        {0xC0000409, {99}, "EXCEPTION_STACK_BUFFER_OVERRUN at 0x401000 (fail-fast code 99)"},
        {0xC0000094, {}, "EXCEPTION_INT_DIVIDE_BY_ZERO at 0x401000"},
        {0xE06D7363, {0x19930520, 1, 2}, "EXCEPTION_CXX at 0x401000"},
        {0xC0000374, {}, "STATUS_HEAP_CORRUPTION at 0x401000"},
        {0xC000001D, {}, "EXCEPTION_ILLEGAL_INSTRUCTION at 0x401000"},
        {0xC00000FD, {}, "EXCEPTION_STACK_OVERFLOW at 0x401000"},
        {0x80000003, {}, "EXCEPTION_BREAKPOINT at 0x401000"},
        {0xC0001234, {}, "0xc0001234 at 0x401000"},
    };
    for (const Case& c : cases) {
        ExceptionInfo exception;
        exception.present = true;
        exception.code = c.code;
        exception.address = 0x401000;
        exception.parameters = c.parameters;
        EXPECT_EQ(c.description, DescribeException(exception));
    }
}

StackFrame MakeFrame(const char* module, uint64_t offset, const char* function)
{
    StackFrame frame;
    frame.module = module;
    frame.moduleOffset = offset;
    frame.function = function;
    return frame;
}

TEST(CrashSignature, NamesTheFirstFrameOutsideTheSystemLibraries)
{
    struct Case
    {
        const char* name;
        std::vector<StackFrame> frames;
        const char* signature;
    } cases[] = {
        {"own code first", {MakeFrame("brevora.exe", 0x10, "Play"), MakeFrame("ntdll.dll", 0, "")},
         "KIND brevora.exe!Play"},
        {"no name known", {MakeFrame("brevora.exe", 0x1a2b, "")}, "KIND brevora.exe+0x1a2b"},
        {"system frames above",
         {MakeFrame("NTDLL.DLL", 1, ""), MakeFrame("ntdll.dll", 2, ""), MakeFrame("msvcrt.dll", 3, "memcpy"),
          MakeFrame("codec.dll", 0x40, "Decode"), MakeFrame("brevora.exe", 9, "Main")},
         "KIND ntdll | msvcrt | codec.dll!Decode"},
        {"frames without a module skipped", {MakeFrame("", 0, ""), MakeFrame("brevora.exe", 5, "F")},
         "KIND brevora.exe!F"},
        {"system only", {MakeFrame("kernelbase.dll", 1, ""), MakeFrame("ntdll.dll", 2, "")},
         "KIND kernelbase | ntdll"},
        {"no frames", {}, "KIND"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.signature, MakeCrashSignature("KIND", c.frames, GetSystemLibraries())) << c.name;
}

}  // namespace
