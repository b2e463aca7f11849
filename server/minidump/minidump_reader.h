// Reads a Windows minidump (MiniDumpWriteDump's format) from bytes the
// caller keeps alive for as long as the result is used.
#pragma once

#include <cstdint>

#include "server/minidump/minidump_types.h"

// Never throws for any input: a file that is no minidump is refused
// (readable false), a stream that cannot be read is skipped and named in
// problems.
Minidump ReadMinidump(ByteView file);

// Copies length bytes of the crashed process's memory at address into out,
// when the dump holds all of them; false otherwise.
bool ReadDumpMemory(const Minidump& dump, uint64_t address, uint64_t length, uint8_t* out);

// The loaded module whose image holds address, or null.
const ModuleInfo* FindModuleAt(const Minidump& dump, uint64_t address);

// The module's file name without its folder ("C:\a\b.dll" -> "b.dll").
std::string GetModuleFileName(const std::string& path);
