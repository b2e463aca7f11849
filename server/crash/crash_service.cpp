#include "server/crash/crash_service.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <map>

#include "server/base/ascii_text.h"
#include "server/base/log_text.h"
#include "server/minidump/crash_text.h"
#include "server/minidump/minidump_reader.h"
#include "server/minidump/pe_image.h"
#include "server/store/store_factory.h"

namespace {

// Reports stored together are processed together: a burst of one crash
// reads the same binaries once.
const std::chrono::milliseconds kCrashGathering(100);
// Dumps up to this size are copied for the thread as they arrive, up to
// the total below; the others are read back from the store.
const size_t kLargestCopiedDump = 8 * 1024 * 1024;
const uint64_t kMostCopiedBytes = 64 * 1024 * 1024;

// The thread is background work: under a flood of uploads the uploads go
// first, and the reports wait (their 201 never waits for them).
void LowerThisThreadsPriority()
{
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
}

BinaryKey MakeModuleKey(const ModuleInfo& module)
{
    BinaryKey key;
    key.module = ToLowerAscii(GetModuleFileName(module.path));
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

// The analysis of one report; false with error when it cannot be made,
// true with reportId 0 when the report is gone.
bool AnalyseOne(ReportStore& reports, BinaryShelf& shelf, const CrashWork& work, CrashAnalysis& analysis,
                std::string& error)
{
    const int64_t id = work.id;
    StoredCrashReport loadedReport;
    if (!work.stored) {
        const LoadResult loaded = reports.LoadCrashReport(id, loadedReport, error);
        if (loaded == LoadResult::NotFound)
            return true;  // a bug report's id, or removed meanwhile: nothing to save
        if (loaded == LoadResult::Failed)
            return false;
    }
    const StoredCrashReport& stored = work.stored ? *work.stored : loadedReport;
    const ReportFile& dumpFile = stored.report.dump;
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
    return true;
}

// Analyses works and saves them together; false at the first that cannot
// be made or saved, naming its report.
bool ProcessBatch(ReportStore& reports, CrashStore& crashes, const std::vector<CrashWork>& works, std::string& error)
{
    BinaryShelf shelf(crashes);
    std::vector<CrashAnalysis> analyses;
    for (const CrashWork& work : works) {
        CrashAnalysis analysis;
        if (!AnalyseOne(reports, shelf, work, analysis, error)) {
            error = "crash report " + std::to_string(work.id) + ": " + error;
            return false;
        }
        if (analysis.reportId != 0)
            analyses.push_back(std::move(analysis));
    }
    return crashes.SaveAnalyses(analyses, error);
}

}  // namespace

bool ProcessCrashReports(ReportStore& reports, CrashStore& crashes, const std::vector<int64_t>& ids,
                         std::string& error)
{
    // In batches: memory for one batch's texts, one write lock each.
    const size_t kBatch = 200;
    for (size_t at = 0; at < ids.size(); at += kBatch) {
        std::vector<CrashWork> works;
        for (size_t i = at; i < ids.size() && i < at + kBatch; ++i)
            works.push_back(CrashWork{ids[i], nullptr});
        if (!ProcessBatch(reports, crashes, works, error))
            return false;
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
    service.queue.reset(new BatchQueue<CrashWork>(
        [&service](const std::vector<CrashWork>& batch) {
            static thread_local bool lowered = false;
            if (!lowered) {
                LowerThisThreadsPriority();
                lowered = true;
            }
            std::string failure;
            const bool done = ProcessBatch(*service.reports, *service.store, batch, failure);
            for (const CrashWork& work : batch) {
                // A report whose dump cannot be processed holds up no other.
                if (!done && (batch.size() == 1 || !ProcessBatch(*service.reports, *service.store, {work}, failure)) &&
                    service.log != nullptr) {
                    std::fprintf(service.log, "%s crash report %lld not processed: %s\n", FormatUtcNow().c_str(),
                                 static_cast<long long>(work.id), EscapeControlBytes(failure, false).c_str());
                    std::fflush(service.log);
                }
                if (work.stored)
                    service.copiedBytes -= work.stored->report.dump.content.size();
            }
        },
        kCrashGathering));
    for (int64_t id : waiting)
        QueueCrashReport(service, id);
    return true;
}

void QueueCrashReport(CrashService& service, int64_t id, const ReportOrigin& origin, const CrashReport& report)
{
    const uint64_t size = report.dump.content.size();
    if (size > kLargestCopiedDump || service.copiedBytes + size > kMostCopiedBytes) {
        QueueCrashReport(service, id);
        return;
    }
    service.copiedBytes += size;
    std::shared_ptr<StoredCrashReport> stored(new StoredCrashReport);
    stored->id = id;
    stored->origin = origin;
    stored->report.dump = report.dump;
    stored->report.version = report.version;
    service.queue->Add(CrashWork{id, stored});
}

void QueueCrashReport(CrashService& service, int64_t id)
{
    service.queue->Add(CrashWork{id, nullptr});
}

// A release executable or DLL: its key as dumps name it, from its headers.
static bool ReadBinaryKey(const std::string& fileName, const std::string& content, BinaryKey& key,
                          std::string& error)
{
    const PeImage image = ReadPeImage(ViewBytes(content));
    if (!image.readable) {
        error = "'" + fileName + "' is no Windows executable or DLL: " + image.refusal;
        return false;
    }
    key.module = ToLowerAscii(GetModuleFileName(fileName));
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
