// What is read from a Windows minidump: plain values, every string already
// UTF-8, every memory range checked against the file it came from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/minidump/byte_view.h"

enum class CpuArchitecture
{
    Unknown,
    X86,
    X64,
    Arm,
    Arm64
};

// Registers in the order of their x86 encoding (rax/eax = 0, rcx, rdx,
// rbx, rsp, rbp, rsi, rdi, r8 ... r15), which is also how x64 unwind codes
// number them. x86 uses the first eight.
enum RegisterIndex
{
    kRax,
    kRcx,
    kRdx,
    kRbx,
    kRsp,
    kRbp,
    kRsi,
    kRdi,
    kR8,
    kR9,
    kR10,
    kR11,
    kR12,
    kR13,
    kR14,
    kR15,
    kRegisterCount
};

struct CpuContext
{
    CpuArchitecture architecture = CpuArchitecture::Unknown;  // Unknown: none read
    uint32_t contextFlags = 0;
    uint64_t instructionPointer = 0;
    uint64_t registers[kRegisterCount] = {};
    uint32_t eflags = 0;
};

struct SystemInfo
{
    bool present = false;
    CpuArchitecture architecture = CpuArchitecture::Unknown;
    uint16_t rawArchitecture = 0;
    uint16_t processorLevel = 0;
    uint16_t processorRevision = 0;
    uint32_t processorCount = 0;
    uint8_t productType = 0;  // 1 workstation, 2 domain controller, 3 server
    uint32_t majorVersion = 0;
    uint32_t minorVersion = 0;
    uint32_t buildNumber = 0;
    uint32_t platformId = 0;
    std::string servicePack;  // CSD version, often empty
    std::string cpuVendor;    // x86 and x64 only
};

struct ExceptionInfo
{
    bool present = false;
    uint32_t threadId = 0;
    uint32_t code = 0;
    uint32_t flags = 0;
    uint64_t recordAddress = 0;  // a nested exception record, rarely set
    uint64_t address = 0;
    std::vector<uint64_t> parameters;  // at most 15
    CpuContext context;
};

struct ModuleInfo
{
    std::string path;  // as the process loaded it
    uint64_t base = 0;
    uint32_t size = 0;
    uint32_t checksum = 0;
    uint32_t timestamp = 0;
    bool hasVersion = false;
    uint16_t fileVersion[4] = {};
    // CodeView record: the PDB the linker named (RSDS with a GUID, or the
    // older NB10 with a 32-bit signature in the GUID's first bytes).
    bool hasPdb = false;
    std::string pdbName;
    uint8_t pdbGuid[16] = {};
    uint32_t pdbAge = 0;
};

struct ThreadInfo
{
    uint32_t id = 0;
    uint32_t suspendCount = 0;
    uint32_t priorityClass = 0;
    uint32_t priority = 0;
    uint64_t teb = 0;
    uint64_t stackStart = 0;
    uint64_t stackSize = 0;
    CpuContext context;
};

// Process memory held in the file: [address, address + size) is at
// fileOffset.
struct MemoryRange
{
    uint64_t address = 0;
    uint64_t size = 0;
    uint64_t fileOffset = 0;
};

struct MiscInfo
{
    bool present = false;
    bool hasProcessId = false;
    uint32_t processId = 0;
    bool hasProcessTimes = false;
    uint32_t processCreateTime = 0;  // seconds since 1970, UTC
};

struct UnloadedModule
{
    std::string path;
    uint64_t base = 0;
    uint32_t size = 0;
    uint32_t timestamp = 0;
};

struct Minidump
{
    // False when the file is no minidump at all (refusal says why); true
    // also when some streams could not be read (problems says which).
    bool readable = false;
    std::string refusal;
    std::vector<std::string> problems;

    ByteView file;  // the caller's bytes; memory ranges point into them
    uint32_t timestamp = 0;  // when the dump was written, seconds since 1970
    uint64_t flags = 0;      // MINIDUMP_TYPE
    SystemInfo system;
    bool madeByWine = false;
    std::string wineVersion;
    ExceptionInfo exception;
    std::vector<ModuleInfo> modules;      // sorted by base
    std::vector<ThreadInfo> threads;
    std::vector<MemoryRange> memory;      // sorted by address
    MiscInfo misc;
    std::vector<UnloadedModule> unloadedModules;
};
