#include "server/minidump/stack_walker.h"

#include "server/minidump/minidump_reader.h"
#include "server/minidump/x64_unwind.h"

namespace {

const size_t kMostFrames = 128;
// Stack words looked at while scanning for one frame.
const size_t kMostScanWords = 2048;

struct Walk
{
    const Minidump& dump;
    const std::vector<const PeImage*>& binaries;
    int wordSize;
};

bool ReadWord(const Walk& walk, uint64_t address, uint64_t& value)
{
    uint8_t bytes[8] = {};
    if (!ReadDumpMemory(walk.dump, address, walk.wordSize, bytes))
        return false;
    value = walk.wordSize == 8 ? LoadU64(bytes) : LoadU32(bytes);
    return true;
}

// True when the bytes before returnAddress in the stored image are a call:
// E8 rel32, or FF /2 in its register and memory forms (with an optional
// REX prefix, which the shorter forms below already cover).
bool FollowsCall(const PeImage& image, uint64_t rva)
{
    uint8_t code[7];
    if (rva < 7 || !ReadImageBytes(image, rva - 7, 7, code))
        return false;
    if (code[2] == 0xE8)
        return true;
    auto isCall = [&](int at, int length) {
        if (code[at] != 0xFF)
            return false;
        uint8_t modrm = code[at + 1];
        if (((modrm >> 3) & 7) != 2)
            return false;
        int mod = modrm >> 6;
        int rm = modrm & 7;
        int expected = 2;
        if (mod == 0)
            expected += rm == 4 ? 1 : rm == 5 ? 4 : 0;
        else if (mod == 1)
            expected += 1 + (rm == 4 ? 1 : 0);
        else if (mod == 2)
            expected += 4 + (rm == 4 ? 1 : 0);
        return expected == length;
    };
    for (int length = 2; length <= 7; ++length)
        if (isCall(7 - length, length))
            return true;
    return false;
}

// A plausible return address: inside a module, and when its binary is
// stored, in its code right after a call.
bool IsReturnAddress(const Walk& walk, uint64_t address, bool& verified)
{
    verified = false;
    const ModuleInfo* module = FindModuleAt(walk.dump, address);
    if (!module)
        return false;
    const PeImage* binary = FindBinaryOfModule(*module, walk.binaries);
    if (!binary)
        return true;
    uint64_t rva = address - module->base;
    verified = IsExecutableRva(*binary, rva) && FollowsCall(*binary, rva);
    return verified;
}

void DescribeFrame(const Walk& walk, StackFrame& frame, bool isCaller)
{
    // A return address may be just past its function's end (a call to a
    // function that never returns); look the caller up one byte earlier.
    uint64_t lookup = frame.instructionPointer - (isCaller ? 1 : 0);
    const ModuleInfo* module = FindModuleAt(walk.dump, lookup);
    if (!module)
        return;
    frame.module = GetModuleFileName(module->path);
    frame.moduleOffset = frame.instructionPointer - module->base;
    const PeImage* binary = FindBinaryOfModule(*module, walk.binaries);
    if (!binary)
        return;
    const PeSymbol* symbol = FindSymbolAt(*binary, lookup - module->base);
    if (!symbol)
        return;
    frame.function = DemangleName(symbol->name);
    frame.functionOffset = frame.moduleOffset - symbol->rva;
}

bool UnwindWithInfo(const Walk& walk, CpuContext& context, bool isCaller)
{
    if (context.architecture != CpuArchitecture::X64)
        return false;
    uint64_t lookup = context.instructionPointer - (isCaller ? 1 : 0);
    const ModuleInfo* module = FindModuleAt(walk.dump, lookup);
    const PeImage* binary = module ? FindBinaryOfModule(*module, walk.binaries) : nullptr;
    if (!binary || binary->architecture != CpuArchitecture::X64)
        return false;
    const RuntimeFunction* function = FindRuntimeFunction(*binary, lookup - module->base);
    std::string error;
    // Only the innermost frame can stop inside an epilog; a caller waits at
    // its call.
    if (function && !isCaller && UnwindX64Epilog(*binary, module->base, walk.dump, context))
        return true;
    if (function)
        return UnwindX64Frame(*binary, module->base, *function, walk.dump, context, error);
    // A function without unwind data is a leaf: the return address is on
    // top of the stack.
    uint64_t returnAddress = 0;
    if (!ReadWord(walk, context.registers[kRsp], returnAddress))
        return false;
    context.instructionPointer = returnAddress;
    context.registers[kRsp] += 8;
    return true;
}

bool FollowFramePointer(const Walk& walk, CpuContext& context, bool& verified)
{
    uint64_t frame = context.registers[kRbp];
    uint64_t savedFrame = 0, returnAddress = 0;
    if (frame < context.registers[kRsp] || !ReadWord(walk, frame, savedFrame) ||
        !ReadWord(walk, frame + walk.wordSize, returnAddress) || !IsReturnAddress(walk, returnAddress, verified))
        return false;
    context.registers[kRbp] = savedFrame;
    context.instructionPointer = returnAddress;
    context.registers[kRsp] = frame + 2 * walk.wordSize;
    return true;
}

// The first plausible return address above the stack pointer; with
// verifiedOnly, the first one checked against a stored binary.
bool ScanStack(const Walk& walk, CpuContext& context, bool verifiedOnly, bool& verified)
{
    uint64_t at = context.registers[kRsp];
    for (size_t i = 0; i < kMostScanWords; ++i, at += walk.wordSize) {
        uint64_t value = 0;
        if (!ReadWord(walk, at, value))
            return false;
        if (!IsReturnAddress(walk, value, verified) || (verifiedOnly && !verified))
            continue;
        CpuContext candidate = context;
        candidate.instructionPointer = value;
        candidate.registers[kRsp] = at + walk.wordSize;
        // A stale return address left in a local slot unwinds to nothing
        // sensible; where unwind data can tell, the candidate's own caller
        // must be a return address too.
        CpuContext caller = candidate;
        bool callerVerified = false;
        if (UnwindWithInfo(walk, caller, true) && !IsReturnAddress(walk, caller.instructionPointer, callerVerified))
            continue;
        context = candidate;
        return true;
    }
    return false;
}

// One step from context to its caller.
bool FindCaller(const Walk& walk, CpuContext& context, bool isCaller, FrameSource& source)
{
    CpuContext unwound = context;
    if (UnwindWithInfo(walk, unwound, isCaller)) {
        context = unwound;
        source = FrameSource::UnwindInfo;
        return true;
    }
    CpuContext byFrame = context, byVerifiedScan = context, byScan = context;
    bool frameVerified = false, verified = false;
    bool framed = FollowFramePointer(walk, byFrame, frameVerified);
    // A return address checked against a stored binary that lies below the
    // frame pointer's slot belongs to a frame the chain would skip (a leaf,
    // or code built without frame pointers).
    if (ScanStack(walk, byVerifiedScan, true, verified) &&
        (!framed || byVerifiedScan.registers[kRsp] < byFrame.registers[kRsp])) {
        context = byVerifiedScan;
        source = FrameSource::Scan;
        return true;
    }
    if (framed) {
        context = byFrame;
        source = FrameSource::FramePointer;
        return true;
    }
    if (ScanStack(walk, byScan, false, verified)) {
        context = byScan;
        source = FrameSource::Scan;
        return true;
    }
    return false;
}

}  // namespace

const PeImage* FindBinaryOfModule(const ModuleInfo& module, const std::vector<const PeImage*>& binaries)
{
    for (const PeImage* binary : binaries)
        if (binary && binary->readable && binary->timestamp == module.timestamp &&
            binary->sizeOfImage == module.size)
            return binary;
    return nullptr;
}

const char* NameFrameSource(FrameSource source)
{
    switch (source) {
    case FrameSource::Context: return "context";
    case FrameSource::UnwindInfo: return "unwind info";
    case FrameSource::FramePointer: return "frame pointer";
    case FrameSource::Scan: return "scan";
    }
    return "?";
}

std::vector<StackFrame> WalkCrashingStack(const Minidump& dump, const std::vector<const PeImage*>& binaries)
{
    std::vector<StackFrame> frames;
    const CpuContext& start = dump.exception.context;
    if (!dump.exception.present || start.architecture == CpuArchitecture::Unknown)
        return frames;
    Walk walk{dump, binaries, start.architecture == CpuArchitecture::X64 ? 8 : 4};
    CpuContext context = start;
    FrameSource source = FrameSource::Context;
    while (true) {
        StackFrame frame;
        frame.instructionPointer = context.instructionPointer;
        frame.stackPointer = context.registers[kRsp];
        frame.source = source;
        DescribeFrame(walk, frame, !frames.empty());
        frames.push_back(frame);
        if (frames.size() >= kMostFrames)
            break;
        uint64_t previousStack = context.registers[kRsp];
        if (!FindCaller(walk, context, frames.size() > 1, source))
            break;
        // The stack grows down: a caller's frame is always higher. A step
        // that does not go up would loop.
        if (context.registers[kRsp] <= previousStack || context.instructionPointer == 0)
            break;
    }
    return frames;
}
