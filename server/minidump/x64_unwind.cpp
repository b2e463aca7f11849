#include "server/minidump/x64_unwind.h"

#include "server/minidump/minidump_reader.h"

namespace {

// A chain of unwind infos longer than this is a loop in a corrupt file.
constexpr int kMaxChainLength = 32;

// How many 16-bit slots each operation takes, including its own.
int CountSlots(uint8_t operation, uint8_t info)
{
    switch (operation) {
    case kPushNonvolatile:
    case kAllocSmall:
    case kSetFramePointer:
    case kPushMachineFrame:
        return 1;
    case kAllocLarge:
        return info == 0 ? 2 : 3;
    case kSaveNonvolatile:
    case kSaveXmm128:
    case kEpilog:
        return 2;
    case kSaveNonvolatileFar:
    case kSaveXmm128Far:
    case kSpareCode:
        return 3;
    default:
        return 0;
    }
}

bool ReadStackWord(const Minidump& dump, uint64_t address, uint64_t& value)
{
    uint8_t bytes[8];
    if (!ReadDumpMemory(dump, address, 8, bytes))
        return false;
    value = LoadU64(bytes);
    return true;
}

}  // namespace

// The longest epilog looked at: an allocation, 16 pops and a return.
constexpr uint64_t kMaxEpilogBytes = 48;

bool UnwindX64Epilog(const PeImage& image, uint64_t moduleBase, const Minidump& dump, CpuContext& context)
{
    uint8_t code[kMaxEpilogBytes] = {};
    uint64_t rva = context.instructionPointer - moduleBase;
    uint64_t length = kMaxEpilogBytes;
    // Near the end of a section fewer bytes are there; an epilog fits in them.
    while (length > 0 && !ReadImageBytes(image, rva, length, code))
        length /= 2;
    if (length == 0)
        return false;

    CpuContext next = context;
    uint64_t& rsp = next.registers[kRsp];
    uint64_t at = 0;
    // add rsp, imm8 / imm32; lea rsp, [base + disp8 / disp32].
    if (length >= 4 && code[0] == 0x48 && code[1] == 0x83 && code[2] == 0xC4) {
        rsp += static_cast<int8_t>(code[3]);
        at = 4;
    } else if (length >= 7 && code[0] == 0x48 && code[1] == 0x81 && code[2] == 0xC4) {
        rsp += static_cast<int32_t>(LoadU32(code + 3));
        at = 7;
    } else if (length >= 4 && (code[0] == 0x48 || code[0] == 0x49) && code[1] == 0x8D && (code[2] & 0x38) == 0x20 &&
               (code[2] & 7) != 4 && (code[2] >> 6 == 1 || code[2] >> 6 == 2)) {
        int base = (code[2] & 7) + (code[0] == 0x49 ? 8 : 0);
        bool wide = code[2] >> 6 == 2;
        if (wide && length < 7)
            return false;
        rsp = next.registers[base] + (wide ? static_cast<int32_t>(LoadU32(code + 3)) : static_cast<int8_t>(code[3]));
        at = wide ? 7 : 4;
    }
    // pop r64, with REX.B for r8 to r15.
    while (at < length) {
        int reg = -1;
        if (code[at] >= 0x58 && code[at] <= 0x5F)
            reg = code[at] - 0x58, at += 1;
        else if (at + 1 < length && code[at] == 0x41 && code[at + 1] >= 0x58 && code[at + 1] <= 0x5F)
            reg = code[at + 1] - 0x58 + 8, at += 2;
        else
            break;
        if (reg == kRsp || !ReadStackWord(dump, rsp, next.registers[reg]))
            return false;
        rsp += 8;
    }
    // ret (also "rep ret"), or a tail jump (rel32, rel8, or through a
    // rip-relative pointer).
    bool ends = at < length && (code[at] == 0xC3 || code[at] == 0xE9 || code[at] == 0xEB ||
                                (code[at] == 0xF3 && at + 1 < length && code[at + 1] == 0xC3) ||
                                (code[at] == 0xFF && at + 1 < length && code[at + 1] == 0x25) ||
                                (code[at] == 0x48 && at + 2 < length && code[at + 1] == 0xFF && code[at + 2] == 0x25));
    uint64_t returnAddress = 0;
    if (!ends || !ReadStackWord(dump, rsp, returnAddress))
        return false;
    next.instructionPointer = returnAddress;
    rsp += 8;
    context = next;
    return true;
}

bool ReadUnwindInfo(const PeImage& image, uint64_t rva, UnwindInfo& info, std::string& error)
{
    uint8_t header[4];
    if (!ReadImageBytes(image, rva, 4, header)) {
        error = "unwind info at " + FormatHex(rva) + " is outside the image";
        return false;
    }
    info = UnwindInfo{};
    info.version = header[0] & 7;
    info.flags = header[0] >> 3;
    info.prologSize = header[1];
    info.slotCount = header[2];
    info.frameRegister = header[3] & 15;
    info.frameOffset = header[3] >> 4;
    if (info.version != 1 && info.version != 2) {
        error = "unwind info version " + std::to_string(info.version);
        return false;
    }
    // The slots are padded to an even count before any chained entry.
    uint64_t slotBytes = 2 * static_cast<uint64_t>((info.slotCount + 1) & ~1);
    uint8_t slots[2 * 256 + 12];
    uint64_t tail = (info.flags & kUnwindChainInfo) ? 12 : 0;
    // An info with no codes may end its section: nothing more to read.
    if (slotBytes + tail != 0 && !ReadImageBytes(image, rva + 4, slotBytes + tail, slots)) {
        error = "unwind codes at " + FormatHex(rva) + " run past the image";
        return false;
    }
    for (int i = 0; i < info.slotCount;) {
        UnwindCode code;
        code.prologOffset = slots[2 * i];
        code.operation = slots[2 * i + 1] & 15;
        code.info = slots[2 * i + 1] >> 4;
        int count = CountSlots(code.operation, code.info);
        if (count == 0 || i + count > info.slotCount) {
            error = "unwind code " + std::to_string(code.operation) + " at " + FormatHex(rva) + " is invalid";
            return false;
        }
        uint32_t next = count >= 2 ? LoadU16(slots + 2 * (i + 1)) : 0;
        uint32_t far = count >= 3 ? LoadU32(slots + 2 * (i + 1)) : 0;
        switch (code.operation) {
        case kAllocLarge: code.operand = code.info == 0 ? next * 8 : far; break;
        case kAllocSmall: code.operand = code.info * 8u + 8u; break;
        case kSaveNonvolatile: code.operand = next * 8; break;
        case kSaveNonvolatileFar: code.operand = far; break;
        case kSaveXmm128: code.operand = next * 16; break;
        case kSaveXmm128Far: code.operand = far; break;
        default: break;
        }
        info.codes.push_back(code);
        i += count;
    }
    if (info.flags & kUnwindChainInfo) {
        const uint8_t* entry = slots + slotBytes;
        info.chainedFunction = RuntimeFunction{LoadU32(entry), LoadU32(entry + 4), LoadU32(entry + 8)};
    }
    return true;
}

bool UnwindX64Frame(const PeImage& image, uint64_t moduleBase, const RuntimeFunction& function,
                    const Minidump& dump, CpuContext& context, std::string& error)
{
    CpuContext next = context;
    uint64_t rva = context.instructionPointer - moduleBase;
    RuntimeFunction current = function;
    for (int depth = 0; depth < kMaxChainLength; ++depth) {
        UnwindInfo info;
        if (!ReadUnwindInfo(image, current.unwindInfo, info, error))
            return false;
        // Inside the prolog only the operations done so far are undone; a
        // chained (parent) entry's prolog has always run in full.
        uint64_t done = depth == 0 ? rva - current.begin : UINT64_MAX;

        // Saves are relative to the fixed allocation, which the frame
        // register finds when there is one: the stack pointer may have
        // moved since (alloca).
        bool frameSet = false;
        for (const UnwindCode& code : info.codes)
            frameSet = frameSet || (code.operation == kSetFramePointer && code.prologOffset <= done);
        uint64_t frameBase = frameSet && info.frameRegister != 0
                                 ? next.registers[info.frameRegister] - 16u * info.frameOffset
                                 : next.registers[kRsp];
        for (const UnwindCode& code : info.codes) {
            if (code.prologOffset > done)
                continue;
            uint64_t& rsp = next.registers[kRsp];
            uint64_t value = 0;
            switch (code.operation) {
            case kPushNonvolatile:
                if (!ReadStackWord(dump, rsp, value)) {
                    error = "pushed register at " + FormatHex(rsp) + " not in the dump";
                    return false;
                }
                next.registers[code.info] = value;
                rsp += 8;
                break;
            case kAllocLarge:
            case kAllocSmall:
                rsp += code.operand;
                break;
            case kSetFramePointer:
                // Undone in the order of the codes: GCC sets the frame
                // register before its allocation, MSVC after it.
                if (info.frameRegister != 0)
                    rsp = next.registers[info.frameRegister] - 16u * info.frameOffset;
                break;
            case kSaveNonvolatile:
            case kSaveNonvolatileFar:
                if (!ReadStackWord(dump, frameBase + code.operand, value)) {
                    error = "saved register at " + FormatHex(frameBase + code.operand) + " not in the dump";
                    return false;
                }
                next.registers[code.info] = value;
                break;
            case kPushMachineFrame: {
                // The processor pushed ss, rsp, eflags, cs and rip (and an
                // error code first when info is 1): the caller is what
                // they say, with no return address to pop.
                uint64_t frame = rsp + (code.info == 1 ? 8 : 0);
                uint64_t ip = 0, sp = 0;
                if (!ReadStackWord(dump, frame, ip) || !ReadStackWord(dump, frame + 24, sp)) {
                    error = "machine frame at " + FormatHex(frame) + " not in the dump";
                    return false;
                }
                next.instructionPointer = ip;
                next.registers[kRsp] = sp;
                context = next;
                return true;
            }
            default:  // xmm registers are not needed to walk
                break;
            }
        }
        if (!(info.flags & kUnwindChainInfo)) {
            uint64_t returnAddress = 0;
            uint64_t& rsp = next.registers[kRsp];
            if (!ReadStackWord(dump, rsp, returnAddress)) {
                error = "return address at " + FormatHex(rsp) + " not in the dump";
                return false;
            }
            next.instructionPointer = returnAddress;
            rsp += 8;
            context = next;
            return true;
        }
        current = info.chainedFunction;
    }
    error = "chain of unwind infos too long";
    return false;
}
