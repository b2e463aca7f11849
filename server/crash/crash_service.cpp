#include "server/crash/crash_service.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <map>

#include "server/base/log_text.h"
#include "server/minidump/crash_text.h"
#include "server/minidump/minidump_reader.h"
#include "server/minidump/pe_image.h"
#include "server/store/store_factory.h"

namespace {

// Reports stored together are processed together: a burst of one crash
// reads the same binaries once.
const std::chrono::milliseconds kCrashGathering(100);

std::string LowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

BinaryKey MakeModuleKey(const ModuleInfo& module)
{
    BinaryKey key;
    key.module = LowerCase(GetModuleFileName(module.path));
    key.timestamp = module.timestamp;
    key.imageSize = module.size;
    return key;
}

ByteView ViewBytes(const std::string& bytes)
{
    return ByteView{reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
}

// The release binaries of one batch, each read once from the store.
class BinaryShelf
{
public:
    explicit BinaryShelf(CrashStore& crashes) : m_crashes(crashes) {}

    // The stored binaries of the dump's modules.
    bool FindFor(const Minidump& dump, std::vector<const PeImage*>& images, std::string& error)
    {
        images.clear();
        for (const ModuleInfo& module : dump.modules) {
            const BinaryKey key = MakeModuleKey(module);
            std::unique_ptr<Entry>& entry = m_shelf[FormatBinaryKey(key)];
            if (!entry) {
                // Held by pointer: the image points into the bytes, which must
                // never move.
                entry.reset(new Entry);
                const LoadResult loaded = m_crashes.LoadBinary(key, entry->bytes, error);
                if (loaded == LoadResult::Failed) {
                    m_shelf.erase(FormatBinaryKey(key));
                    return false;
                }
                if (loaded == LoadResult::Found)
                    entry->image = ReadPeImage(ViewBytes(entry->bytes));
            }
            if (entry->image.readable)
                images.push_back(&entry->image);
        }
        return true;
    }

private:
    struct Entry
    {
        std::string bytes;
        PeImage image;
    };

    CrashStore& m_crashes;
    std::map<std::string, std::unique_ptr<Entry>> m_shelf;
};

// What a report without a dump that can be read is filed under.
CrashAnalysis DescribeMissingDump(const std::string& why)
{
    CrashAnalysis analysis;
    analysis.signature = "(no readable dump)";
    analysis.reason = why;
    analysis.text = "Signature:  " + analysis.signature + "\nReason:     " + EscapeControlBytes(why, false) + "\n";
    return analysis;
}

bool ProcessOne(ReportStore& reports, CrashStore& crashes, BinaryShelf& shelf, int64_t id, std::string& error)
{
    StoredCrashReport stored;
    const LoadResult loaded = reports.LoadCrashReport(id, stored, error);
    if (loaded == LoadResult::NotFound)
        return true;  // a bug report's id, or removed meanwhile
    if (loaded == LoadResult::Failed)
        return false;
    const ReportFile& dumpFile = stored.report.dump;
    CrashAnalysis analysis;
    const Minidump dump = ReadMinidump(ViewBytes(dumpFile.content));
    if (dumpFile.state != FileState::Content || dumpFile.content.empty()) {
        analysis = DescribeMissingDump("the report carries no dump");
    } else if (!dump.readable) {
        analysis = DescribeMissingDump("the dump cannot be read: " + dump.refusal);
    } else {
        std::vector<const PeImage*> images;
        if (!shelf.FindFor(dump, images, error))
            return false;
        const ProcessedCrash crash = ProcessCrash(dump, images);
        analysis.signature = crash.signature;
        analysis.reason = crash.reason;
        analysis.text = FormatProcessedCrash(dump, crash);
        for (const ModuleInfo& module : dump.modules)
            analysis.modules.push_back(FormatBinaryKey(MakeModuleKey(module)));
    }
    analysis.reportId = id;
    analysis.receivedUtc = stored.origin.receivedUtc;
    analysis.version = stored.report.version;  // the installed Brevora, as the reporter sent it
    return crashes.SaveAnalysis(analysis, error);
}

}  // namespace

bool ProcessCrashReports(ReportStore& reports, CrashStore& crashes, const std::vector<int64_t>& ids,
                         std::string& error)
{
    BinaryShelf shelf(crashes);
    for (int64_t id : ids) {
        if (!ProcessOne(reports, crashes, shelf, id, error)) {
            error = "crash report " + std::to_string(id) + ": " + error;
            return false;
        }
    }
    return true;
}

bool OpenCrashService(CrashService& service, const std::string& dataDir, const std::string& databaseUrl,
                      ReportStore& reports, std::string& error)
{
    service.reports = &reports;
    service.store = OpenCrashStore(dataDir, databaseUrl, error);
    std::vector<int64_t> waiting;
    if (!service.store || !service.store->FindCrashReports(false, waiting, error))
        return false;
    service.queue.reset(new BatchQueue<int64_t>(
        [&service](const std::vector<int64_t>& batch) {
            // One report at a time, so that a bad one holds up no other.
            BinaryShelf shelf(*service.store);
            for (int64_t id : batch) {
                std::string failure;
                if (!ProcessOne(*service.reports, *service.store, shelf, id, failure) && service.log != nullptr) {
                    std::fprintf(service.log, "%s crash report %lld not processed: %s\n", FormatUtcNow().c_str(),
                                 static_cast<long long>(id), EscapeControlBytes(failure, false).c_str());
                    std::fflush(service.log);
                }
            }
        },
        kCrashGathering));
    for (int64_t id : waiting)
        service.queue->Add(id);
    return true;
}

bool ReadBinaryKey(const std::string& fileName, const std::string& content, BinaryKey& key, std::string& error)
{
    const PeImage image = ReadPeImage(ViewBytes(content));
    if (!image.readable) {
        error = "'" + fileName + "' is no Windows executable or DLL: " + image.refusal;
        return false;
    }
    const size_t slash = fileName.find_last_of("/\\");
    key.module = LowerCase(slash == std::string::npos ? fileName : fileName.substr(slash + 1));
    key.timestamp = image.timestamp;
    key.imageSize = image.sizeOfImage;
    return true;
}

bool AddReleaseBinary(CrashStore& crashes, const std::string& fileName, const std::string& content,
                      std::vector<int64_t>& affected, std::string& error)
{
    StoredBinary binary;
    if (!ReadBinaryKey(fileName, content, binary.key, error))
        return false;
    binary.fileName = fileName;
    binary.size = content.size();
    binary.addedUtc = FormatUtcNow();
    return crashes.AddBinary(binary, content, error) && crashes.FindReportsWithModule(binary.key, affected, error);
}
