// A crash's reason in words: what the exception was, where, on which
// system.
#pragma once

#include <cstdint>
#include <string>

#include "server/minidump/minidump_types.h"

// "EXCEPTION_ACCESS_VIOLATION", "EXCEPTION_INT_DIVIDE_BY_ZERO", ...; an
// unknown code as "0xc0001234".
std::string NameExceptionCode(uint32_t code);

// The name a crash is sorted by: an access violation split by its kind
// (EXCEPTION_ACCESS_VIOLATION_READ, _WRITE, _EXEC from parameter 0).
std::string NameCrashKind(const ExceptionInfo& exception);

// One line: the kind and what its parameters say, e.g.
// "EXCEPTION_ACCESS_VIOLATION_READ at 0x0 (reading address 0x10)".
std::string DescribeException(const ExceptionInfo& exception);

// "Windows 7 SP1 (6.1.7601)" style, with Wine's version when Wine wrote it.
std::string DescribeOperatingSystem(const Minidump& dump);

// "x64, 4 CPUs (GenuineIntel, family 6 model 85 stepping 7)".
std::string DescribeProcessor(const SystemInfo& system);

// "module.dll+0x1234", "old.dll+0x10 (unloaded)" in a module unloaded
// before the dump, or the bare address when no module holds it.
std::string DescribeCodeAddress(const Minidump& dump, uint64_t address);

// How long the process had run when the dump was written ("3 h 2 min 5 s");
// empty when the dump does not say when the process started.
std::string DescribeUptime(const Minidump& dump);
