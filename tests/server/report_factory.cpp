#include "tests/server/report_factory.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "report_format/base64.h"
#include "report_format/crash_body.h"

namespace {

std::string EncodeText(const std::string& text)
{
    return Base64Encode(static_cast<uint32_t>(text.size()), text.data());
}

std::string EncodeFile(const FileInput& file)
{
    switch (file.kind) {
    case FileInput::Present:
        // An empty file reads as size 0, which is the placeholder too.
        return MakeFilePayload(file.bytes.data(), file.bytes.size());
    case FileInput::Missing:
        return MakeFilePayload(nullptr, 0);
    case FileInput::Unreadable:
        break;
    }
    return std::string();
}

}  // namespace

FileInput MakePresentFile(std::string bytes)
{
    FileInput file;
    file.kind = FileInput::Present;
    file.bytes = std::move(bytes);
    return file;
}

std::string EncodeReport(const ReportInput& input, size_t bodySize)
{
    const std::string payloads[REPORT_RECORD_COUNT] = {
        EncodeText(input.email),          EncodeText(input.description1), EncodeText(input.description2),
        EncodeText(input.description3),   EncodeText(input.systemInfo),    EncodeText(input.attachmentName),
        EncodeFile(input.dxdiag),         EncodeText(input.logName),       EncodeFile(input.log),
    };
    std::string body;
    if (!AppendReportRecords(body, bodySize, payloads))
        throw std::runtime_error("report does not fit in the body buffer");
    return body;
}

std::string CutAtFirstNul(const std::string& bytes)
{
    return bytes.substr(0, bytes.find('\0'));
}

std::string MakeRandomBytes(std::mt19937& rng, size_t size, bool noNul)
{
    std::uniform_int_distribution<int> byte(noNul ? 1 : 0, 255);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(byte(rng));
    return bytes;
}

std::string MakeLogText(std::mt19937& rng, size_t size)
{
    static const char* const kMessages[] = {
        "INFO  player: opened stream http://media.local/video/%u.mkv",
        "DEBUG decoder: frame %u decoded in 3 ms",
        "WARN  network: retrying request %u after timeout",
        "ERROR library: cannot read thumbnail %u.jpg",
    };
    std::string text;
    text.reserve(size + 128);
    std::uniform_int_distribution<unsigned> number(0, 999999);
    unsigned second = 0;
    char line[160];
    while (text.size() < size) {
        const char* message = kMessages[number(rng) % 4];
        int n = std::snprintf(line, sizeof line, "2024-05-01 12:%02u:%02u.%03u ", (second / 60) % 60, second % 60,
                              number(rng) % 1000);
        n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), message, number(rng));
        line[n++] = '\r';
        line[n++] = '\n';
        text.append(line, static_cast<size_t>(n));
        ++second;
    }
    text.resize(size);
    return text;
}

ReportInput MakeRandomReport(std::mt19937& rng, size_t maxFileSize)
{
    std::uniform_int_distribution<size_t> textSize(0, 300);
    std::uniform_int_distribution<size_t> fileSize(0, maxFileSize);
    std::uniform_int_distribution<int> kind(0, 9);

    auto makeFile = [&]() {
        const int k = kind(rng);
        FileInput file;
        if (k == 0)
            file.kind = FileInput::Missing;
        else if (k == 1)
            file.kind = FileInput::Unreadable;
        else
            file = MakePresentFile(MakeRandomBytes(rng, fileSize(rng), k < 8));  // some with NULs
        return file;
    };

    ReportInput input;
    input.email = MakeRandomBytes(rng, textSize(rng) % 40, true);
    input.description1 = MakeRandomBytes(rng, textSize(rng), true);
    input.description2 = MakeRandomBytes(rng, textSize(rng), true);
    input.description3 = MakeRandomBytes(rng, textSize(rng), true);
    input.systemInfo = MakeRandomBytes(rng, textSize(rng), true);
    input.dxdiag = makeFile();
    input.log = makeFile();
    return input;
}

ReportInput MakeRealisticReport(std::mt19937& rng, size_t logSize)
{
    ReportInput input;
    input.email = "tester@example.com";
    input.description1 = "1. Start Brevora\r\n2. Open the video library\r\n3. Scroll to the end of the list";
    input.description2 = "The program froze for ten seconds and then closed.";
    input.description3 = "The list should scroll smoothly.";
    input.systemInfo = "PATH=C:\\Windows\\system32;C:\\Windows\r\nHOMEPATH=\\Users\\tester\r\nTEMP=C:\\Users\\tester\\"
                       "AppData\\Local\\Temp\r\nUSERNAME=tester\r\nUSERPROFILE=C:\\Users\\tester";
    input.dxdiag = MakePresentFile(MakeLogText(rng, 40 * 1024));
    input.log = MakePresentFile(MakeLogText(rng, logSize));
    return input;
}

namespace {

bool ReadFromString(void* handle, uint64_t offset, char* buffer, uint32_t size, uint32_t* got)
{
    const std::string* bytes = static_cast<const std::string*>(handle);
    *got = offset >= bytes->size() ? 0 : static_cast<uint32_t>(std::min<uint64_t>(size, bytes->size() - offset));
    std::memcpy(buffer, bytes->data() + offset, *got);
    return true;
}

bool AppendBytes(void* sink, const char* bytes, size_t length)
{
    static_cast<std::string*>(sink)->append(bytes, length);
    return true;
}

}  // namespace

std::string EncodeCrashReport(const std::string& comment, const std::string& dump, const std::string& log,
                              const std::string& conf)
{
    std::string files[CRASH_FILE_COUNT] = {dump, log, conf};
    CrashFileSource sources[CRASH_FILE_COUNT];
    for (int i = 0; i < CRASH_FILE_COUNT; ++i)
        sources[i] = {&files[i], files[i].size()};
    CrashBodyPlan plan;
    std::string body;
    if (!PlanCrashBody(comment, sources, ReadFromString, kCrashBodyLimit, plan) ||
        !WriteCrashBody(plan, sources, ReadFromString, AppendBytes, &body))
        return "<cannot encode>";
    return body;
}
