// Reads the file that the stand-in mapi32.dll writes: every load and unload
// of the library and everything each MAPISendMail call received.
#pragma once

#include <string>
#include <vector>

struct RecordedRecip
{
    unsigned long recipClass = 0;
    bool nameNull = true;
    std::string name;
    bool addressNull = true;
    std::string address;
    unsigned long eidSize = 0;
    bool entryIdNull = true;
};

struct RecordedFile
{
    unsigned long reserved = 0;
    unsigned long flags = 0;
    unsigned long position = 0;
    std::string path;
    std::string name;
    bool fileTypeNull = true;
};

struct RecordedSend
{
    unsigned long long session = 0;
    unsigned long long uiParam = 0;
    unsigned long flags = 0;
    bool subjectNull = true;
    std::string subject;
    bool noteTextNull = true;
    std::string noteText;
    bool messageTypeNull = true;
    bool originatorSet = false;
    RecordedRecip originator;
    unsigned long recipCount = 0;
    bool recipsSet = false;
    std::vector<RecordedRecip> recips;
    unsigned long fileCount = 0;
    bool filesSet = false;
    std::vector<RecordedFile> files;
    bool returned = false;
    unsigned long result = 0;
    unsigned long returnTick = 0;  // GetTickCount when it returned
};

struct MapiRecord
{
    int attaches = 0;
    int detaches = 0;
    std::vector<RecordedSend> sends;
};

// Parses the stand-in's record file; a missing file reads as an empty record.
MapiRecord ReadMapiRecord(const std::wstring& path);
