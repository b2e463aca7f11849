// What the server keeps of crash dumps beside the crash reports: each
// report's analysis (its reason, signature and text), the groups of
// reports that share a signature with counts kept as reports come and go,
// and the release binaries that stacks are unwound and named with. Removing
// a crash report (prune, forget) removes its analysis and its counts in
// the same transaction, from any process, on either engine.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "server/store/report_store.h"

// A release binary as a dump names its module: the file name in lower case,
// the linker's time stamp and the image's size.
struct BinaryKey
{
    std::string module;
    uint32_t timestamp = 0;
    uint32_t imageSize = 0;
};

// "brevora.exe/5f3a1b2c/1d000": how analyses list the modules they used.
std::string FormatBinaryKey(const BinaryKey& key);

struct StoredBinary
{
    BinaryKey key;
    std::string fileName;  // as given to binary add
    uint64_t size = 0;
    std::string addedUtc;
};

// One crash report's dump, processed.
struct CrashAnalysis
{
    int64_t reportId = 0;
    int64_t groupId = 0;      // filled when loaded
    std::string receivedUtc;  // the report's
    std::string version;      // Brevora's version as the report gave it; empty when unknown
    std::string signature;
    std::string reason;  // one line
    std::string text;    // the whole processed crash, as show and the report page print it
    std::vector<std::string> modules;  // FormatBinaryKey of every module the dump lists
};

extern const char* const kGroupStatuses[];  // "new", "fixed", "ignored", "regression"; null-ended
bool IsGroupStatus(const std::string& status);

struct CrashGroup
{
    int64_t id = 0;
    std::string signature;
    int64_t count = 0;  // reports now stored
    std::string firstSeenUtc;
    std::string lastSeenUtc;
    std::string status = "new";
    std::string fixedVersion;  // with "fixed" (and "regression": the version it was fixed in)
    int64_t periodCount = 0;   // in the period asked for (all: count)
    int64_t previousCount = 0;  // in the period as long before it (all: none)
    std::vector<std::pair<std::string, int64_t>> versions;  // version and count, most first
};

// Every field empty or zero: every group, all time.
struct GroupQuery
{
    int days = 0;         // the last days, today included; 0: all time
    std::string version;  // only reports of this version
    std::string todayUtc;  // "YYYY-MM-DD"; the period ends with it
    int64_t limit = 50;
};

class CrashStore
{
public:
    virtual ~CrashStore() {}

    // Stores analysis in place of the report's last one, moving the report
    // from its old group to the one of its signature (made when new) and
    // updating the counts. A report of a group marked fixed that comes
    // from a version newer than the fix reopens it as a regression. A
    // report removed meanwhile is left alone (true).
    bool SaveAnalysis(const CrashAnalysis& analysis, std::string& error) { return SaveAnalyses({analysis}, error); }
    // The same for several: on SQLite in one transaction, all or none, so
    // that a batch takes the database's one write lock once.
    virtual bool SaveAnalyses(const std::vector<CrashAnalysis>& analyses, std::string& error) = 0;
    virtual LoadResult LoadAnalysis(int64_t reportId, CrashAnalysis& analysis, std::string& error) = 0;

    // The groups with reports in the query's period, most reports first.
    virtual bool ListTopGroups(const GroupQuery& query, std::vector<CrashGroup>& groups, std::string& error) = 0;
    // A group with its counts per day ("YYYY-MM-DD", oldest first) and its
    // newest reports, newest first (at most reportLimit).
    virtual LoadResult LoadGroup(int64_t id, CrashGroup& group, std::vector<std::pair<std::string, int64_t>>& days,
                                 std::vector<int64_t>& reportIds, int64_t reportLimit, std::string& error) = 0;
    // status is one of kGroupStatuses; fixedVersion goes with "fixed".
    virtual StoreAnswer SetGroupStatus(int64_t id, const std::string& status, const std::string& fixedVersion,
                                           std::string& error) = 0;

    // Keeps content under key, replacing an earlier binary of that key.
    virtual bool AddBinary(const StoredBinary& binary, const std::string& content, std::string& error) = 0;
    virtual LoadResult LoadBinary(const BinaryKey& key, std::string& content, std::string& error) = 0;
    virtual bool ListBinaries(std::vector<StoredBinary>& binaries, std::string& error) = 0;

    // Crash reports whose analysis used the module, or has none yet
    // (everyReport: all crash reports), oldest first.
    virtual bool FindReportsWithModule(const BinaryKey& key, std::vector<int64_t>& ids, std::string& error) = 0;
    virtual bool FindCrashReports(bool everyReport, std::vector<int64_t>& ids, std::string& error) = 0;
};

// Helpers both engines share.
// "YYYY-MM-DD" moved by days (negative: back); empty when day is no date.
std::string ShiftUtcDay(const std::string& day, int days);
// Whether a report of version, in a group of status and fixedVersion,
// reopens it: a group marked fixed comes back from a version newer than
// the fix (from any version, when the fix names none).
bool IsRegression(const std::string& status, const std::string& fixedVersion, const std::string& version);
// The module keys of an analysis as one text, a line each, and back.
std::string JoinModuleKeys(const std::vector<std::string>& keys);
std::vector<std::string> SplitModuleKeys(const std::string& text);
// The groups' ids as "1,2,3", for an IN list; the group of id, or null.
std::string ListIds(const std::vector<CrashGroup>& groups);
CrashGroup* FindGroup(std::vector<CrashGroup>& groups, int64_t id);
