// Walks the crashing thread's stack from the exception's context.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/minidump/minidump_types.h"
#include "server/minidump/pe_image.h"

enum class FrameSource
{
    Context,       // the exception's own registers
    UnwindInfo,    // the binary's x64 unwind codes
    FramePointer,  // the rbp/ebp chain
    Scan           // a return address found by scanning the stack
};

struct StackFrame
{
    uint64_t instructionPointer = 0;
    uint64_t stackPointer = 0;
    FrameSource source = FrameSource::Context;
    std::string module;  // the module's file name; empty when none holds the address
    uint64_t moduleOffset = 0;
    std::string function;  // empty when unknown
    uint64_t functionOffset = 0;
};

// The stored binaries are matched to the dump's modules by timestamp and
// image size. Frames stop at 128, at an address no module holds after a
// scan, or when the stack pointer stops growing.
std::vector<StackFrame> WalkCrashingStack(const Minidump& dump, const std::vector<const PeImage*>& binaries);

// The stored binary that is the module, or null.
const PeImage* FindBinaryOfModule(const ModuleInfo& module, const std::vector<const PeImage*>& binaries);

// "context", "unwind info", "frame pointer", "scan".
const char* NameFrameSource(FrameSource source);
