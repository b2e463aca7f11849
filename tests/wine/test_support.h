// Helpers shared by the Windows tests.
#pragma once

#include <windows.h>

#include <string>

// Folder of the running test executable, with a trailing backslash.
std::wstring GetExeDir();

// Full path of a file that the build puts next to the test executables.
std::wstring GetBuiltFile(const wchar_t* name);

// The whole content of a file, read with every sharing mode so that files
// another process holds open can be read. False when it cannot be opened.
bool ReadFileBytes(const std::wstring& path, std::string& bytes);
// The same, empty when the file cannot be opened.
std::string ReadFileBytes(const std::wstring& path);

// Creates or replaces a file with exactly these bytes.
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);

// Runs commandLine (bytes exactly as given) with applicationPath as the
// program and returns what it wrote to standard output; exitCode receives its
// exit status. Returns false when the process could not be started.
bool RunAndCapture(const std::wstring& applicationPath, const std::string& commandLine,
                   std::string& output, DWORD& exitCode, DWORD timeoutMs = 30000);
