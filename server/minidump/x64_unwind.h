// x64 unwind data (.xdata UNWIND_INFO) and one step of a virtual unwind
// with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/minidump/minidump_types.h"
#include "server/minidump/pe_image.h"

enum UnwindOperation : uint8_t
{
    kPushNonvolatile = 0,
    kAllocLarge = 1,
    kAllocSmall = 2,
    kSetFramePointer = 3,
    kSaveNonvolatile = 4,
    kSaveNonvolatileFar = 5,
    kEpilog = 6,  // version 2: where epilogs are; nothing to undo
    kSpareCode = 7,
    kSaveXmm128 = 8,
    kSaveXmm128Far = 9,
    kPushMachineFrame = 10,
};

// One operation with its operand decoded from the slots that follow it:
// the size of an allocation or the offset of a save, in bytes.
struct UnwindCode
{
    uint8_t prologOffset = 0;
    uint8_t operation = 0;
    uint8_t info = 0;  // register number, or the variant of the operation
    uint32_t operand = 0;
};

struct UnwindInfo
{
    uint8_t version = 0;
    uint8_t flags = 0;  // 1 exception handler, 2 termination handler, 4 chained
    uint8_t prologSize = 0;
    uint8_t frameRegister = 0;
    uint8_t frameOffset = 0;  // in units of 16 bytes
    uint8_t slotCount = 0;
    std::vector<UnwindCode> codes;
    RuntimeFunction chainedFunction;
};

constexpr uint8_t kUnwindChainInfo = 4;

// Reads the UNWIND_INFO at rva; false with a reason for one that is cut
// off or holds an unknown operation.
bool ReadUnwindInfo(const PeImage& image, uint64_t rva, UnwindInfo& info, std::string& error);

// When the instruction pointer of the innermost frame is in an epilog (an
// add or lea to rsp, pops, then ret or a jump), the prolog has already been
// partly undone and the unwind codes no longer apply: runs the rest of the
// epilog on context instead. False, context untouched, when the code there
// is not an epilog.
bool UnwindX64Epilog(const PeImage& image, uint64_t moduleBase, const Minidump& dump, CpuContext& context);

// Undoes the prolog of the function that holds context's instruction
// pointer (the module is loaded at moduleBase) and pops its return address:
// context then describes the caller. Stack reads come from the dump.
bool UnwindX64Frame(const PeImage& image, uint64_t moduleBase, const RuntimeFunction& function,
                    const Minidump& dump, CpuContext& context, std::string& error);
