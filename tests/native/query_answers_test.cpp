// Handling of the report server's answers: reading, line splitting and the
// size rules of the two queries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report_format/query_answers.h"

namespace {

// One wide unit per byte, as in a single-byte code page.
size_t ConvertSingleByte(const char* text, size_t length, wchar_t* out, size_t capacity)
{
    if (out == nullptr)
        return length;
    if (capacity < length)
        return 0;
    for (size_t i = 0; i < length; ++i)
        out[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    return length;
}

// Two wide units for every byte at or above 0x80, one for the others, so the
// size rules are seen to count units rather than bytes.
size_t ConvertWidening(const char* text, size_t length, wchar_t* out, size_t capacity)
{
    size_t units = 0;
    for (size_t i = 0; i < length; ++i) {
        bool high = static_cast<unsigned char>(text[i]) >= 0x80;
        if (out != nullptr) {
            if (units + (high ? 2 : 1) > capacity)
                return 0;
            out[units] = high ? L'H' : static_cast<wchar_t>(text[i]);
            if (high)
                out[units + 1] = L'h';
        }
        units += high ? 2 : 1;
    }
    return units;
}

size_t ConvertFailing(const char*, size_t, wchar_t*, size_t)
{
    return 0;
}

const wchar_t kSentinel = 0x2A2A;

// A wide buffer of the given capacity, pre-filled so that stray writes show.
struct WideBuffer
{
    std::vector<wchar_t> units;
    explicit WideBuffer(size_t capacity) : units(capacity + 1, kSentinel) {}
    wchar_t* data() { return units.data(); }
    std::wstring text() const { return std::wstring(units.data()); }
    bool untouchedFrom(size_t index) const
    {
        for (size_t i = index; i < units.size(); ++i)
            if (units[i] != kSentinel)
                return false;
        return true;
    }
};

std::wstring Widen(const std::string& bytes)
{
    std::wstring wide;
    for (unsigned char c : bytes)
        wide += static_cast<wchar_t>(c);
    return wide;
}

struct VersionCase
{
    const char* name;
    std::string body;
    std::wstring version;
    std::wstring url;
};

class VersionResponseTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionResponseTest, GivesTheFirstTwoLines)
{
    const VersionCase& c = GetParam();
    WideBuffer version(kResponseLimit), url(kResponseLimit);
    HandleVersionResponse(ConvertSingleByte, c.body.c_str(), version.data(), kResponseLimit, url.data(), kResponseLimit);
    EXPECT_EQ(c.version, version.text());
    EXPECT_EQ(c.url, url.text());
    EXPECT_TRUE(version.untouchedFrom(c.version.size() + 1));
    EXPECT_TRUE(url.untouchedFrom(c.url.size() + 1));
}

INSTANTIATE_TEST_SUITE_P(Bodies, VersionResponseTest, ::testing::Values(
    VersionCase{ "TwoLines", "2.1.0\nhttp://brevora.org/get\n", L"2.1.0", L"http://brevora.org/get" },
    VersionCase{ "NoLineFeed", "2.1.0 http://x/", L"2.1.0 http://x/", L"" },
    VersionCase{ "LeadingEmptyLines", "\n\n\n2.1.0\n\n\nhttp://x/\n", L"2.1.0", L"http://x/" },
    VersionCase{ "CrLfLineEnds", "2.1.0\r\nhttp://x/\r\n", L"2.1.0\r", L"http://x/\r" },
    VersionCase{ "OnlyLineFeeds", "\n\n\n\n", L"", L"" },
    VersionCase{ "Empty", "", L"", L"" },
    VersionCase{ "ThirdLineIgnored", "1\n2\n3\n", L"1", L"2" },
    VersionCase{ "ErrorPageTakenAsIs", "<html><body>404 Not Found</body></html>\n",
                 L"<html><body>404 Not Found</body></html>", L"" },
    VersionCase{ "HighBytesKept", "2.0\xE9\nhttp://x/\xFF", L"2.0\u00E9", L"http://x/\u00FF" }
), [](const ::testing::TestParamInfo<VersionCase>& info) { return std::string(info.param.name); });

struct SizeCase
{
    const char* name;
    size_t units;      // wide units the line converts to
    size_t capacity;   // of the output buffer, terminator included
    bool copied;
};

class LineSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(LineSizeTest, CopiesOnlyWhenTheTerminatorFits)
{
    const SizeCase& c = GetParam();
    std::string line(c.units, 'v');
    std::string body = line + "\nhttp://x/";
    WideBuffer version(c.capacity), url(kResponseLimit);
    HandleVersionResponse(ConvertSingleByte, body.c_str(), version.data(), c.capacity, url.data(), kResponseLimit);
    EXPECT_EQ(c.copied ? Widen(line) : std::wstring(), version.text());
    EXPECT_EQ(L"http://x/", url.text()) << "the other line is handled on its own";
    EXPECT_TRUE(version.untouchedFrom(c.copied ? c.units + 1 : 1));
}

INSTANTIATE_TEST_SUITE_P(Boundaries, LineSizeTest, ::testing::Values(
    SizeCase{ "OneBelowBuffer", 8, 10, true },
    SizeCase{ "ExactlyTheBufferWithTerminator", 9, 10, false },
    SizeCase{ "LargerThanBuffer", 10, 10, false },
    SizeCase{ "FullSize2046", 2046, kResponseLimit, true },
    SizeCase{ "FullSize2047", 2047, kResponseLimit, false }
), [](const ::testing::TestParamInfo<SizeCase>& info) { return std::string(info.param.name); });

TEST(VersionResponse, CountsWideUnitsNotBytes)
{
    // 6 bytes that need 10 units and the terminator: dropped by a buffer of
    // 11 units, kept by one of 12.
    const char* body = "\x80\x81\x82\x83" "ab\nurl";
    WideBuffer small(11), large(12), url(kResponseLimit);
    HandleVersionResponse(ConvertWidening, body, small.data(), 11, url.data(), kResponseLimit);
    EXPECT_EQ(L"", small.text());
    HandleVersionResponse(ConvertWidening, body, large.data(), 12, url.data(), kResponseLimit);
    EXPECT_EQ(L"HhHhHhHhab", large.text());
}

TEST(VersionResponse, FailedConversionLeavesEmptyText)
{
    WideBuffer version(kResponseLimit), url(kResponseLimit);
    HandleVersionResponse(ConvertFailing, "1.0\nhttp://x/", version.data(), kResponseLimit, url.data(), kResponseLimit);
    EXPECT_EQ(L"", version.text());
    EXPECT_EQ(L"", url.text());
}

TEST(VersionResponse, ZeroSizeLeavesBothBuffersUntouched)
{
    WideBuffer version(4), url(4);
    HandleVersionResponse(ConvertSingleByte, "1\n2", version.data(), 0, url.data(), 4);
    HandleVersionResponse(ConvertSingleByte, "1\n2", version.data(), 4, url.data(), 0);
    EXPECT_TRUE(version.untouchedFrom(0));
    EXPECT_TRUE(url.untouchedFrom(0));
}

struct ComponentsCase
{
    const char* name;
    std::string body;
    bool kept;
};

class ComponentsResponseTest : public ::testing::TestWithParam<ComponentsCase> {};

TEST_P(ComponentsResponseTest, KeepsTheWholeTextWhenItFits)
{
    const ComponentsCase& c = GetParam();
    WideBuffer components(kResponseLimit);
    HandleComponentsResponse(ConvertSingleByte, c.body.c_str(), components.data(), kResponseLimit);
    EXPECT_EQ(c.kept ? Widen(c.body) : std::wstring(), components.text());
    EXPECT_TRUE(components.untouchedFrom(c.kept ? c.body.size() + 1 : 1));
}

INSTANTIATE_TEST_SUITE_P(Bodies, ComponentsResponseTest, ::testing::Values(
    ComponentsCase{ "LinesUnchanged", "Video\nMusic\r\nPictures\n\n", true },
    ComponentsCase{ "Text2046Bytes", std::string(2046, 'c'), true },
    ComponentsCase{ "Text2047Bytes", std::string(2047, 'c'), false },
    ComponentsCase{ "Text2048Bytes", std::string(2048, 'c'), false },
    ComponentsCase{ "ErrorPage", "<h1>Not Found</h1>", true },
    ComponentsCase{ "Empty", "", false }
), [](const ::testing::TestParamInfo<ComponentsCase>& info) { return std::string(info.param.name); });

// A response that arrives in the given parts; optionally the read after the
// last part fails, as on an interrupted transfer.
struct ChunkedSource
{
    std::vector<std::string> parts;
    bool failAfterParts = false;
    size_t next = 0;
    size_t reads = 0;
    std::string pending;
};

bool ReadChunk(void* source, char* buffer, size_t size, size_t* got)
{
    ChunkedSource* s = static_cast<ChunkedSource*>(source);
    ++s->reads;
    if (s->pending.empty()) {
        if (s->next == s->parts.size()) {
            *got = 0;
            return !s->failAfterParts;
        }
        s->pending = s->parts[s->next++];
    }
    size_t n = s->pending.size() < size ? s->pending.size() : size;
    s->pending.copy(buffer, n);
    s->pending.erase(0, n);
    *got = n;
    return true;
}

struct ReadCase
{
    const char* name;
    std::vector<std::string> parts;
    bool fails;
    std::string expected;
};

class ReadResponseTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadResponseTest, CollectsUpToTheLimit)
{
    const ReadCase& c = GetParam();
    ChunkedSource source;
    source.parts = c.parts;
    source.failAfterParts = c.fails;
    std::vector<char> buffer(kResponseLimit + 1, '#');
    size_t count = 99;
    bool ok = ReadResponse(ReadChunk, &source, buffer.data(), kResponseLimit, &count);
    EXPECT_EQ(!c.fails, ok);
    if (ok) {
        EXPECT_EQ(c.expected.size(), count);
        EXPECT_EQ(c.expected, std::string(buffer.data(), count));
    }
    EXPECT_EQ('#', buffer[kResponseLimit]) << "the NUL byte's place is left to the caller";
}

INSTANTIATE_TEST_SUITE_P(Responses, ReadResponseTest, ::testing::Values(
    ReadCase{ "OneRead", { "1.0\nhttp://x/" }, false, "1.0\nhttp://x/" },
    ReadCase{ "SplitOverThreeReads", { "1.", "0\nhttp:", "//x/" }, false, "1.0\nhttp://x/" },
    ReadCase{ "Empty", {}, false, "" },
    ReadCase{ "ExactlyTheLimit", { std::string(1000, 'a'), std::string(1048, 'b') }, false,
              std::string(1000, 'a') + std::string(1048, 'b') },
    ReadCase{ "LongerThanTheLimit", { std::string(1500, 'a'), std::string(1500, 'b') }, false,
              std::string(1500, 'a') + std::string(548, 'b') },
    ReadCase{ "InterruptedTransfer", { "1.0\n" }, true, "" }
), [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST(ReadResponse, StopsAskingOnceTheLimitIsReached)
{
    ChunkedSource source;
    source.parts = { std::string(kResponseLimit, 'x'), "never read" };
    std::vector<char> buffer(kResponseLimit + 1);
    size_t count = 0;
    ASSERT_TRUE(ReadResponse(ReadChunk, &source, buffer.data(), kResponseLimit, &count));
    EXPECT_EQ(kResponseLimit, count);
    EXPECT_EQ(1u, source.reads);
}

TEST(ReadResponse, ByteByByteGivesTheSameVersion)
{
    std::string body = "3.0.1\r\n\nhttps://brevora.org/update";
    ChunkedSource source;
    for (char c : body)
        source.parts.push_back(std::string(1, c));
    std::vector<char> buffer(kResponseLimit + 1);
    size_t count = 0;
    ASSERT_TRUE(ReadResponse(ReadChunk, &source, buffer.data(), kResponseLimit, &count));
    buffer[count] = '\0';
    WideBuffer version(kResponseLimit), url(kResponseLimit);
    HandleVersionResponse(ConvertSingleByte, buffer.data(), version.data(), kResponseLimit, url.data(), kResponseLimit);
    EXPECT_EQ(L"3.0.1\r", version.text());
    EXPECT_EQ(L"https://brevora.org/update", url.text());
}

}  // namespace
