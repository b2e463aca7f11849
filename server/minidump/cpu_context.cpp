#include "server/minidump/cpu_context.h"

// x64 CONTEXT: the general registers follow each other from rax at 0x78 in
// encoding order, rip after r15.
constexpr uint64_t kX64FlagsOffset = 0x30;
constexpr uint64_t kX64EflagsOffset = 0x44;
constexpr uint64_t kX64RaxOffset = 0x78;
constexpr uint64_t kX64RipOffset = 0xF8;

// x86 CONTEXT: the registers are stored in an order of their own.
constexpr uint64_t kX86EflagsOffset = 0xC0;
constexpr uint64_t kX86EipOffset = 0xB8;
constexpr uint64_t kX86RegisterOffsets[8] = {
    0xB0,  // eax
    0xAC,  // ecx
    0xA8,  // edx
    0xA4,  // ebx
    0xC4,  // esp
    0xB4,  // ebp
    0xA0,  // esi
    0x9C,  // edi
};

static void ReadX64Context(ByteView record, CpuContext& context)
{
    context = CpuContext{};
    context.architecture = CpuArchitecture::X64;
    context.contextFlags = FieldU32(record, kX64FlagsOffset);
    context.eflags = FieldU32(record, kX64EflagsOffset);
    for (int i = 0; i < kRegisterCount; ++i)
        context.registers[i] = FieldU64(record, kX64RaxOffset + 8 * static_cast<uint64_t>(i));
    context.instructionPointer = FieldU64(record, kX64RipOffset);
}

static void ReadX86Context(ByteView record, CpuContext& context)
{
    context = CpuContext{};
    context.architecture = CpuArchitecture::X86;
    context.contextFlags = FieldU32(record, 0);
    context.eflags = FieldU32(record, kX86EflagsOffset);
    for (int i = 0; i < 8; ++i)
        context.registers[i] = FieldU32(record, kX86RegisterOffsets[i]);
    context.instructionPointer = FieldU32(record, kX86EipOffset);
}

bool ReadCpuContext(ByteView record, CpuArchitecture architecture, CpuContext& context)
{
    if (architecture == CpuArchitecture::Unknown) {
        if (record.size == kX64ContextSize)
            architecture = CpuArchitecture::X64;
        else if (record.size == kX86ContextSize)
            architecture = CpuArchitecture::X86;
    }
    if (architecture == CpuArchitecture::X64 && record.size >= kX64ContextSize) {
        ReadX64Context(record, context);
        return true;
    }
    if (architecture == CpuArchitecture::X86 && record.size >= kX86ContextSize) {
        ReadX86Context(record, context);
        return true;
    }
    return false;
}

const char* GetRegisterName(CpuArchitecture architecture, int index)
{
    static const char* const x64Names[kRegisterCount] = {"rax", "rcx", "rdx", "rbx", "rsp", "rbp",
                                                         "rsi", "rdi", "r8",  "r9",  "r10", "r11",
                                                         "r12", "r13", "r14", "r15"};
    static const char* const x86Names[8] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"};
    if (index < 0 || index >= kRegisterCount)
        return "?";
    if (architecture == CpuArchitecture::X86)
        return index < 8 ? x86Names[index] : "?";
    return x64Names[index];
}
