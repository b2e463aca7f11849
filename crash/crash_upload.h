// The crash report's second way: posted to the report server when the mail
// cannot go out.
#pragma once

#include <string>

// Posts the comment and the installed version (both UTF-8) and the three
// files (8-bit paths; a path that names no readable file sends the
// placeholder) to the report server, with the report's upload key (none
// when empty). True only when the server answered with a 2xx status.
bool PostCrashReport(const std::string& comment, const std::string& version, const std::string& dumpPath,
                     const std::string& logPath, const std::string& confPath, const std::wstring& key);
