// The two kinds of report as the server holds them once decoded: a bug
// report's fields and a crash report's, with the files each carries.
#pragma once

#include <string>

// What a file record carried.
enum class FileState
{
    Content,      // wrapped base64 of the file's bytes (possibly none)
    Placeholder,  // "WFhY\n": the file was empty or missing on the sender's side
    Empty         // empty payload: the file could not be read, or began with a NUL byte
};

struct ReportFile
{
    std::string name;
    std::string content;
    FileState state = FileState::Empty;
};

// The decoded payloads of one report, in the sender's 8-bit code page.
struct Report
{
    std::string email;
    std::string description1;  // steps to reproduce
    std::string description2;  // what happened
    std::string description3;  // what should have happened
    std::string systemInfo;    // description4, without the lines that end it
    std::string component;     // "Element=" line at the end of description4; older reporters send none
    // "Version=" and "CodePage=" lines after the component's: the installed
    // Brevora and the ANSI code page of the texts. Older reporters send
    // neither (originLines false, both empty).
    bool originLines = false;
    std::string version;
    std::string codePage;      // the line's bytes as sent, normally decimal digits
    ReportFile attachment;     // the diagnostic report
    ReportFile attachmentLog;  // the application log
};

// The decoded payloads of one crash report: the comment in UTF-8 and the
// three files, whole.
struct CrashReport
{
    std::string comment;
    bool withVersion = false;  // the body had the version record (older reporters' had not)
    std::string version;       // the installed Brevora, UTF-8
    ReportFile dump;
    ReportFile log;
    ReportFile conf;
};
