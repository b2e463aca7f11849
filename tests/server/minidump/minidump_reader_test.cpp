#include <gtest/gtest.h>

#include "server/minidump/crash_reason.h"
#include "server/minidump/minidump_reader.h"
#include "tests/server/minidump/dump_builder.h"

namespace {

CrashSpec MakeSpec()
{
    CrashSpec spec;
    spec.rip = 0x140001234;
    spec.registers = {{kRsp, 0x10010}, {kRbp, 0x10040}, {kRbx, 0xB0B}};
    spec.modules = {{u"C:\\Programme\\Brev\u00f6ra\\brevora.exe", 0x140000000, 0x5000, 0x5F000000},
                    {u"C:\\Windows\\System32\\ntdll.dll", 0x7FF800000000, 0x200000, 0x12345678}};
    for (int i = 0; i < 0x100; ++i)
        spec.stack.push_back(static_cast<uint8_t>(i));
    return spec;
}

TEST(MinidumpReader, ReadsEveryStreamOfAnX64Crash)
{
    Bytes bytes = MakeCrashDump(MakeSpec());
    Minidump dump = ReadMinidump(ByteView{bytes.data(), bytes.size()});
    ASSERT_TRUE(dump.readable) << dump.refusal;
    EXPECT_TRUE(dump.problems.empty()) << dump.problems.front();
    EXPECT_EQ("Windows 10 (10.0.19045)", DescribeOperatingSystem(dump));
    EXPECT_EQ("x64, 4 CPUs (GenuineIntel, family 6 model 85 stepping 7)", DescribeProcessor(dump.system));

    ASSERT_TRUE(dump.exception.present);
    EXPECT_EQ(7u, dump.exception.threadId);
    EXPECT_EQ("EXCEPTION_ACCESS_VIOLATION_READ at 0x140001234 (reading address 0x10)", DescribeException(dump.exception));
    EXPECT_EQ(0x140001234u, dump.exception.context.instructionPointer);
    EXPECT_EQ(0x10010u, dump.exception.context.registers[kRsp]);
    EXPECT_EQ(0xB0Bu, dump.exception.context.registers[kRbx]);

    ASSERT_EQ(2u, dump.modules.size());
    const ModuleInfo& app = dump.modules[0];
    EXPECT_EQ("C:\\Programme\\Brev\xC3\xB6ra\\brevora.exe", app.path);
    EXPECT_EQ(0x5F000000u, app.timestamp);
    EXPECT_EQ((std::vector<uint16_t>{2, 3, 4, 5}), std::vector<uint16_t>(app.fileVersion, app.fileVersion + 4));
    EXPECT_TRUE(app.hasPdb);
    EXPECT_EQ("app.pdb", app.pdbName);
    EXPECT_EQ(3u, app.pdbAge);
    EXPECT_EQ(0x1Fu, app.pdbGuid[15]);
    EXPECT_EQ(&dump.modules[1], FindModuleAt(dump, 0x7FF800001000));
    EXPECT_EQ(nullptr, FindModuleAt(dump, 0x140005000));
    EXPECT_EQ("brevora.exe+0x4fff", DescribeCodeAddress(dump, 0x140004FFF));
    EXPECT_EQ("old.dll+0x10 (unloaded)", DescribeCodeAddress(dump, 0x7FF700000010));
    EXPECT_EQ("0x7ff700003000", DescribeCodeAddress(dump, 0x7FF700003000));

    ASSERT_EQ(1u, dump.threads.size());
    EXPECT_EQ(0x10000u, dump.threads[0].stackStart);
    EXPECT_EQ("1 min 40 s", DescribeUptime(dump));
    ASSERT_EQ(1u, dump.unloadedModules.size());
    EXPECT_EQ("C:\\plugins\\old.dll", dump.unloadedModules[0].path);
}

TEST(MinidumpReader, ReadsMemoryOnlyWhereTheDumpHoldsAllOfIt)
{
    Bytes bytes = MakeCrashDump(MakeSpec());
    Minidump dump = ReadMinidump(ByteView{bytes.data(), bytes.size()});
    struct Case
    {
        uint64_t address;
        uint64_t length;
        bool held;
    } cases[] = {
        {0x10000, 8, true},  {0x100F8, 8, true},   {0x100F9, 8, false},
        {0xFFFF, 2, false},  {0x10000, 0x100, true}, {0x10000, 0x101, false},
        {UINT64_MAX, 8, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(FormatHex(c.address) + " length " + std::to_string(c.length));
        std::vector<uint8_t> out(c.length);
        ASSERT_EQ(c.held, ReadDumpMemory(dump, c.address, c.length, out.data()));
        if (c.held) {
            EXPECT_EQ(static_cast<uint8_t>(c.address - 0x10000), out[0]);
        }
    }
}

}  // namespace
