// The CONTEXT records of x64 and x86 threads, as a minidump stores them.
#pragma once

#include "server/minidump/byte_view.h"
#include "server/minidump/minidump_types.h"

constexpr uint64_t kX64ContextSize = 1232;
constexpr uint64_t kX86ContextSize = 716;

// Reads a context of the given architecture (Unknown: guessed from the
// record's size). False, with context untouched, when the record is too
// short for it or of an architecture that is not read.
bool ReadCpuContext(ByteView record, CpuArchitecture architecture, CpuContext& context);

// "rax", "eax", ...: the register's name for the context's architecture.
const char* GetRegisterName(CpuArchitecture architecture, int index);
