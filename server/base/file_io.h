// Folders and whole-file reads and writes, with one-line errors.
#pragma once

#include <string>

// Makes path and any missing parents (mode 0755); an existing folder is
// fine. On failure error names the part that failed and why.
bool CreateFolders(const std::string& path, std::string& error);

enum class ReadResult
{
    Read,
    Missing,
    Failed
};

// Reads a whole file as bytes, exactly as stored.
ReadResult ReadWholeFile(const std::string& path, std::string& bytes, std::string& error);

// Replaces the file at path with bytes.
bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string& error);

// Replaces the file at path with bytes so that a reader sees the old file
// or the new one whole, never a mix: the bytes go to a temporary file in
// the same folder, reach the disk, and are renamed over path. One writer
// per path at a time.
bool ReplaceFileAtomically(const std::string& path, const std::string& bytes, std::string& error);
