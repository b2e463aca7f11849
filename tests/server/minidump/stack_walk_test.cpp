#include <gtest/gtest.h>

#include <map>

#include "server/minidump/minidump_reader.h"
#include "server/minidump/stack_walker.h"
#include "server/minidump/x64_unwind.h"
#include "tests/server/minidump/dump_builder.h"

namespace {

constexpr uint64_t kStack = 0x10000;
constexpr uint64_t kReturn = kImageBase + 0x1205;

Bytes MakeStack(const std::map<uint64_t, uint64_t>& words, size_t size = 0x1100)
{
    Bytes stack(size, 0xCC);
    for (const auto& word : words)
        for (int i = 0; i < 8; ++i)
            stack[word.first + i] = static_cast<uint8_t>(word.second >> (8 * i));
    return stack;
}

// Each row is one function's UNWIND_INFO (a chained parent at xdata 0x40),
// the stack its prolog left, and the caller the unwind must find.
TEST(X64Unwind, UndoesEachKindOfPrologOperation)
{
    struct Case
    {
        const char* name;
        Bytes xdata;
        uint32_t ripOffset;
        uint64_t rbp;
        std::map<uint64_t, uint64_t> stack;
        uint64_t callerRsp;
        uint64_t callerRip;
        int restored;
        uint64_t restoredValue;
    } cases[] = {
        {"pushes and a small allocation", {1, 6, 3, 0, 6, 0x42, 2, 0x30, 1, 0x50, 0, 0}, 0x20, 0,
         {{0x28, 0xB0B}, {0x30, 0xF00}, {0x38, kReturn}}, 0x10040, kReturn, kRbx, 0xB0B},
        {"inside the prolog only what ran is undone", {1, 6, 3, 0, 6, 0x42, 2, 0x30, 1, 0x50, 0, 0}, 2, 0,
         {{0x0, 0xB0B}, {0x8, 0xF00}, {0x10, kReturn}}, 0x10018, kReturn, kRbp, 0xF00},
        {"large allocation, 16-bit", {1, 7, 2, 0, 7, 0x01, 0x00, 0x02}, 0x20, 0, {{0x1000, kReturn}}, 0x11008,
         kReturn, kRbx, 0},
        {"large allocation, 32-bit", {1, 7, 3, 0, 7, 0x11, 0x10, 0x10, 0, 0, 0, 0}, 0x20, 0, {{0x1010, kReturn}},
         0x11018, kReturn, kRbx, 0},
        {"frame register set after the allocation, with alloca", {1, 10, 3, 0x25, 10, 0x03, 5, 0x32, 1, 0x50, 0, 0},
         0x20, 0x10060, {{0x60, 0xF00}, {0x68, kReturn}}, 0x10070, kReturn, kRbp, 0xF00},
        {"frame register set before the allocation", {1, 8, 3, 0x05, 8, 0x32, 4, 0x03, 1, 0x50, 0, 0}, 0x20,
         0x10030, {{0x30, 0xF00}, {0x38, kReturn}}, 0x10040, kReturn, kRbp, 0xF00},
        {"saves near and far", {1, 14, 6, 0, 14, 0x75, 0x38, 0, 0, 0, 9, 0x64, 6, 0, 4, 0x82}, 0x20, 0,
         {{0x30, 0x5151}, {0x38, 0xD1D1}, {0x48, kReturn}}, 0x10050, kReturn, kRdi, 0xD1D1},
        {"xmm save skipped over", {1, 9, 3, 0, 9, 0x68, 2, 0, 4, 0x62, 0, 0}, 0x20, 0, {{0x38, kReturn}}, 0x10040,
         kReturn, kRbx, 0},
        {"machine frame with an error code", {1, 1, 1, 0, 1, 0x1A, 0, 0}, 0x20, 0,
         {{0x8, kImageBase + 0x1300}, {0x20, 0x20000}}, 0x20000, kImageBase + 0x1300, kRbx, 0},
        {"chained to a parent's pushes",
         {0x21, 4, 1, 0, 4, 0x32, 0, 0, 0x00, 0x10, 0, 0, 0x00, 0x11, 0, 0, 0x40, 0x20, 0, 0},
         0x20, 0, {{0x20, 0xB0B}, {0x28, kReturn}}, 0x10030, kReturn, kRbx, 0xB0B},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.xdata.resize(0x40, 0);
        Bytes parent = {1, 1, 1, 0, 1, 0x30, 0, 0};
        c.xdata.insert(c.xdata.end(), parent.begin(), parent.end());
        ImageSpec imageSpec;
        imageSpec.xdata = c.xdata;
        imageSpec.functions = {{0x1000, 0x1100, 0}};
        Bytes imageBytes = MakeX64Image(imageSpec);
        PeImage image = ReadPeImage(ByteView{imageBytes.data(), imageBytes.size()});
        ASSERT_TRUE(image.readable) << image.refusal;
        ASSERT_EQ(1u, image.functions.size());

        CrashSpec spec;
        spec.stack = MakeStack(c.stack, 0x1100);
        Bytes dumpBytes = MakeCrashDump(spec);
        Minidump dump = ReadMinidump(ByteView{dumpBytes.data(), dumpBytes.size()});
        CpuContext context;
        context.architecture = CpuArchitecture::X64;
        context.instructionPointer = kImageBase + 0x1000 + c.ripOffset;
        context.registers[kRsp] = kStack;
        context.registers[kRbp] = c.rbp;
        std::string error;
        ASSERT_TRUE(UnwindX64Frame(image, kImageBase, image.functions[0], dump, context, error)) << error;
        EXPECT_EQ(c.callerRsp, context.registers[kRsp]);
        EXPECT_EQ(c.callerRip, context.instructionPointer);
        EXPECT_EQ(c.restoredValue, context.registers[c.restored]);
    }
}

// The code at the instruction pointer decides: the rest of an epilog is
// run; anything else is left to the unwind codes.
TEST(X64Unwind, RunsTheRestOfAnEpilog)
{
    struct Case
    {
        const char* name;
        Bytes code;
        std::map<uint64_t, uint64_t> stack;
        uint64_t callerRsp;  // 0: not an epilog
        uint64_t rbx;
    } cases[] = {
        {"add, pops, ret", {0x48, 0x83, 0xC4, 0x28, 0x5B, 0x41, 0x5C, 0xC3}, {{0x28, 0xB0B}, {0x38, kReturn}}, 0x10040, 0xB0B},
        {"after the add", {0x5B, 0x41, 0x5C, 0xC3}, {{0x0, 0xB0B}, {0x10, kReturn}}, 0x10018, 0xB0B},
        {"large add, tail jump", {0x48, 0x81, 0xC4, 0x00, 0x01, 0, 0, 0xE9, 1, 2, 3, 4}, {{0x100, kReturn}}, 0x10108, 0},
        {"lea from rbp, rep ret", {0x48, 0x8D, 0x65, 0x10, 0x5B, 0xF3, 0xC3}, {{0x50, 0xB0B}, {0x58, kReturn}}, 0x10060, 0xB0B},
        {"a call is no epilog", {0x5B, 0xE8, 0, 0, 0, 0}, {}, 0, 0},
        {"pops without a return", {0x48, 0x83, 0xC4, 0x28, 0x5B, 0x90}, {}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageSpec imageSpec;
        imageSpec.code = c.code;
        Bytes imageBytes = MakeX64Image(imageSpec);
        PeImage image = ReadPeImage(ByteView{imageBytes.data(), imageBytes.size()});
        CrashSpec spec;
        spec.stack = MakeStack(c.stack, 0x200);
        Bytes dumpBytes = MakeCrashDump(spec);
        Minidump dump = ReadMinidump(ByteView{dumpBytes.data(), dumpBytes.size()});
        CpuContext context;
        context.instructionPointer = kImageBase + 0x1000;
        context.registers[kRsp] = kStack;
        context.registers[kRbp] = kStack + 0x40;
        ASSERT_EQ(c.callerRsp != 0, UnwindX64Epilog(image, kImageBase, dump, context));
        if (c.callerRsp != 0) {
            EXPECT_EQ(c.callerRsp, context.registers[kRsp]);
            EXPECT_EQ(kReturn, context.instructionPointer);
            EXPECT_EQ(c.rbx, context.registers[kRbx]);
        }
    }
}

// The crash is in ntdll (no binary stored); the stack holds an address
// after a non-call first, then a real return address after a call.
TEST(StackWalker, ScansForReturnAddressesThatFollowACallWhenTheBinaryTellsSo)
{
    ImageSpec imageSpec;
    imageSpec.code.resize(0x400, 0x90);
    imageSpec.code[0x00B] = 0xE8;  // call rel32 in Play, returning to 0x1010
    imageSpec.code[0x200] = 0xE8;  // and in Caller, returning to 0x1205
    imageSpec.xdata = {1, 4, 1, 0, 4, 0x42, 0, 0};
    imageSpec.functions = {{0x1200, 0x1210, 0}};
    imageSpec.symbols = {{0x1000, "_Z4Playv"}, {0x1200, "Caller"}};
    Bytes imageBytes = MakeX64Image(imageSpec);
    PeImage image = ReadPeImage(ByteView{imageBytes.data(), imageBytes.size()});

    CrashSpec spec;
    spec.rip = 0x7FF800001000;
    spec.registers = {{kRsp, kStack}};
    spec.modules = {{u"C:\\app\\brevora.exe", kImageBase, kImageSize, imageSpec.timestamp},
                    {u"C:\\Windows\\System32\\ntdll.dll", 0x7FF800000000, 0x200000, 1}};
    spec.stack = MakeStack({{0x0, kImageBase + 0x1300}, {0x8, kReturn}, {0x38, kImageBase + 0x1010}});
    Bytes dumpBytes = MakeCrashDump(spec);
    Minidump dump = ReadMinidump(ByteView{dumpBytes.data(), dumpBytes.size()});

    std::vector<StackFrame> frames = WalkCrashingStack(dump, {&image});
    ASSERT_LE(3u, frames.size());
    EXPECT_EQ("ntdll.dll", frames[0].module);
    EXPECT_EQ(FrameSource::Context, frames[0].source);
    EXPECT_EQ(kReturn, frames[1].instructionPointer);
    EXPECT_EQ(FrameSource::Scan, frames[1].source);
    EXPECT_EQ("Caller", frames[1].function);
    EXPECT_EQ(kImageBase + 0x1010, frames[2].instructionPointer);
    EXPECT_EQ(FrameSource::UnwindInfo, frames[2].source);
    EXPECT_EQ("Play()", frames[2].function);

    // Without the binary nothing can be checked: the first address in the
    // module is taken.
    frames = WalkCrashingStack(dump, {});
    ASSERT_LE(2u, frames.size());
    EXPECT_EQ(kImageBase + 0x1300, frames[1].instructionPointer);
    EXPECT_EQ("", frames[1].function);
}

// x86 has no unwind tables: the ebp chain, in 4-byte words.
TEST(StackWalker, FollowsTheFramePointerChainOfAnX86Thread)
{
    CrashSpec spec;
    spec.x86 = true;
    spec.rip = 0x401100;
    spec.registers = {{kRsp, kStack}, {kRbp, kStack + 0x10}, {kRsi, 0x5151}};
    spec.modules = {{u"C:\app\brevora.exe", 0x400000, 0x10000, 1}};
    spec.stack = Bytes(0x100, 0xCC);
    for (const auto& word : std::map<size_t, uint32_t>{{0x10, kStack + 0x30}, {0x14, 0x401234}, {0x30, 0}, {0x34, 0x401500}})
        SetU32(spec.stack, word.first, word.second);
    Bytes dumpBytes = MakeCrashDump(spec);
    Minidump dump = ReadMinidump(ByteView{dumpBytes.data(), dumpBytes.size()});
    ASSERT_EQ(CpuArchitecture::X86, dump.exception.context.architecture);
    EXPECT_EQ(0x5151u, dump.exception.context.registers[kRsi]);

    std::vector<StackFrame> frames = WalkCrashingStack(dump, {});
    ASSERT_EQ(3u, frames.size());
    EXPECT_EQ(0x1100u, frames[0].moduleOffset);
    EXPECT_EQ(0x1234u, frames[1].moduleOffset);
    EXPECT_EQ(FrameSource::FramePointer, frames[1].source);
    EXPECT_EQ(kStack + 0x18, frames[1].stackPointer);
    EXPECT_EQ(0x1500u, frames[2].moduleOffset);
}

}  // namespace
