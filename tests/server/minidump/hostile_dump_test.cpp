#include <gtest/gtest.h>

#include "server/minidump/crash_text.h"
#include "server/minidump/minidump_reader.h"
#include "tests/server/minidump/dump_builder.h"

namespace {

Bytes MakeValidDump()
{
    CrashSpec spec;
    spec.rip = 0x140001010;
    spec.registers = {{kRsp, 0x10000}, {kRbp, 0x10020}};
    spec.modules = {{u"C:\\app\\brevora.exe", 0x140000000, 0x5000, 1}};
    spec.stack = Bytes(0x40, 0);
    return MakeCrashDump(spec);
}

uint32_t GetU32(const Bytes& bytes, size_t at)
{
    return LoadU32(bytes.data() + at);
}

// Where the directory entry of a stream type is.
size_t FindEntry(const Bytes& dump, uint32_t type)
{
    for (size_t at = GetU32(dump, 12); at + 12 <= dump.size(); at += 12)
        if (GetU32(dump, at) == type)
            return at;
    return 0;
}

// Reading, walking and printing must end without a fault under the
// sanitizers, whatever the bytes.
Minidump ProcessWholly(const Bytes& bytes)
{
    Minidump dump = ReadMinidump(ByteView{bytes.data(), bytes.size()});
    if (dump.readable)
        FormatProcessedCrash(dump, ProcessCrash(dump, {}));
    return dump;
}

TEST(HostileDump, EveryCutIsReadInPartWithAReason)
{
    Bytes full = MakeValidDump();
    size_t directory = GetU32(full, 12);
    size_t lastStream = GetU32(full, full.size() - 4);
    for (size_t length = 0; length < 32; ++length)
        ASSERT_FALSE(ProcessWholly(Bytes(full.begin(), full.begin() + length)).readable) << length;
    for (size_t length = 32; length < directory; ++length) {
        // The directory kept after the cut, so that each stream is cut.
        Bytes cut(full.begin(), full.begin() + length);
        SetU32(cut, 12, length);
        cut.insert(cut.end(), full.begin() + directory, full.end());
        Minidump dump = ProcessWholly(cut);
        ASSERT_TRUE(dump.readable) << length;
        // The last stream cut short reads the directory's bytes in its
        // place, which are there: garbage, but no reason to name.
        if (length < lastStream) {
            ASSERT_FALSE(dump.problems.empty()) << "cut at " << length;
        }
    }
}

TEST(HostileDump, CorruptCountsAndOffsetsAreRefusedOrNamed)
{
    struct Case
    {
        const char* name;
        uint32_t stream;  // 0: the header
        size_t offset;    // in the stream's data, or its directory entry when entryField
        bool entryField;
        uint32_t value;
        const char* reason;
    } cases[] = {
        {"no signature", 0, 0, false, 0x12345678, "no MDMP signature"},
        {"stream count past the end", 0, 8, false, 0xFFFFFFFF, "directory: 4294967295 streams claimed"},
        {"directory past the end", 0, 12, false, 0xFFFFFFF0, "0 fit in the file"},
        {"stream offset past the end", 4, 8, true, 0xFFFFFFF0, "module list stream: lies past the end"},
        {"stream size past the end", 4, 4, true, 0xFFFFFFFF, "module list stream: lies past the end"},
        {"module count past the stream", 4, 0, false, 0xFFFFFFFF, "4294967295 entries claimed, 1 fit"},
        {"module name past the end", 4, 4 + 20, false, 0xFFFFFFFC, "module 0: name out of the file"},
        {"CodeView record past the end", 4, 4 + 80, false, 0xFFFFFF00, "CodeView record out of the file"},
        {"thread count past the stream", 3, 0, false, 70000, "70000 entries claimed"},
        {"stack past the end", 3, 4 + 32, false, 0x7FFFFFFF, "lies past the end of the file"},
        {"context cut short", 6, 160, false, 100, "exception stream: no context read"},
        {"too many parameters", 6, 32, false, 1000, "1000 parameters claimed"},
        {"misc info too short", 15, 0, false, 4, "misc info stream: too short"},
        {"unloaded entries of no size", 14, 4, false, 0, "header or entry size impossible"},
        {"overlapping streams", 3, 8, true, 1, ""},
    };
    Bytes valid = MakeValidDump();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = valid;
        size_t entry = c.stream == 0 ? 0 : FindEntry(bytes, c.stream);
        ASSERT_TRUE(c.stream == 0 || entry != 0);
        size_t at = c.stream == 0 || c.entryField ? entry + c.offset : GetU32(bytes, entry + 8) + c.offset;
        // 1: the thread list made to start where the module list does.
        SetU32(bytes, at, c.value == 1 ? GetU32(bytes, FindEntry(bytes, 4) + 8) : c.value);
        Minidump dump = ProcessWholly(bytes);
        std::string all = dump.refusal;
        for (const std::string& problem : dump.problems)
            all += "\n" + problem;
        EXPECT_NE(std::string::npos, all.find(c.reason)) << all;
    }
}

TEST(HostileDump, HundredThousandStreamsAreReadWithoutHarm)
{
    Bytes bytes = MakeValidDump();
    size_t directory = GetU32(bytes, 12);
    Bytes entries(bytes.begin() + directory, bytes.end());
    for (int i = 0; i < 100000; ++i)
        bytes.insert(bytes.end(), entries.begin(), entries.begin() + 12);  // the system info, again and again
    SetU32(bytes, 8, (bytes.size() - directory) / 12);
    Minidump dump = ProcessWholly(bytes);
    ASSERT_TRUE(dump.readable);
    EXPECT_EQ(1u, dump.modules.size());
    EXPECT_EQ(100000u, dump.problems.size());  // each repeated system info named once
}

// 20,000 module entries naming the same 60 KB: read whole, the names would
// take 1.2 GB; all names together get no more than the file's size.
TEST(HostileDump, NamesSharedByManyEntriesCostNoMoreThanTheFile)
{
    CrashSpec spec;
    spec.modules = {{std::u16string(30000, u'x'), 0x140000000, 0x5000, 1}};
    Bytes bytes = MakeCrashDump(spec);
    size_t entry = FindEntry(bytes, 4);
    Bytes modules(bytes.begin() + GetU32(bytes, entry + 8) + 4, bytes.begin() + GetU32(bytes, entry + 8) + 4 + 108);
    Bytes list;
    PutU32(list, 20000);
    for (int i = 0; i < 20000; ++i)
        list.insert(list.end(), modules.begin(), modules.end());
    SetU32(bytes, entry + 4, list.size());
    SetU32(bytes, entry + 8, bytes.size());
    bytes.insert(bytes.end(), list.begin(), list.end());
    Minidump dump = ProcessWholly(bytes);
    ASSERT_EQ(20000u, dump.modules.size());
    size_t names = 0, named = 0;
    for (const ModuleInfo& module : dump.modules) {
        names += module.path.size() + module.pdbName.size();
        named += module.path.size() == 30000;
    }
    EXPECT_GE(bytes.size(), names);
    EXPECT_LT(0u, named);
    EXPECT_NE(std::string::npos, dump.problems.back().find("names beyond the file's size"));
}

TEST(HostileImage, EveryCutOfABinaryIsReadOrRefused)
{
    ImageSpec spec;
    spec.xdata = {1, 4, 1, 0, 4, 0x42, 0, 0};
    spec.functions = {{0x1000, 0x1010, 0}};
    spec.symbols = {{0x1000, "Play"}};
    Bytes full = MakeX64Image(spec);
    for (size_t length = 0; length <= full.size(); length += 7) {
        Bytes cut(full.begin(), full.begin() + length);
        PeImage image = ReadPeImage(ByteView{cut.data(), cut.size()});
        if (!image.readable)
            continue;
        FindSymbolAt(image, 0x1004);
        FindRuntimeFunction(image, 0x1004);
        if (length < full.size()) {
            EXPECT_TRUE(!image.problems.empty() || image.symbols.empty()) << length;
        }
    }
}

}  // namespace
