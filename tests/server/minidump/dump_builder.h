// Builds small minidumps and x64 PE images for the tests, field by field.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

void PutU16(Bytes& out, uint64_t value);
void PutU32(Bytes& out, uint64_t value);
void PutU64(Bytes& out, uint64_t value);
void SetU32(Bytes& out, size_t at, uint64_t value);

// A minidump in the making: the header first, streams appended, the
// directory written last.
struct DumpBuilder
{
    Bytes bytes = Bytes(32, 0);
    std::vector<uint32_t> directory;  // type, size, offset for each stream
};

uint32_t AppendBlob(DumpBuilder& dump, const Bytes& data);
uint32_t AppendDumpString(DumpBuilder& dump, const std::u16string& text);
void AddStream(DumpBuilder& dump, uint32_t type, const Bytes& data);
Bytes FinishDump(DumpBuilder& dump);

// An x64 CONTEXT record with the given instruction pointer and registers
// (indexed as the reader numbers them).
Bytes MakeX64Context(uint64_t rip, const std::vector<std::pair<int, uint64_t>>& registers);
Bytes MakeX86Context(uint64_t eip, const std::vector<std::pair<int, uint64_t>>& registers);

struct DumpModule
{
    std::u16string path;
    uint64_t base;
    uint32_t size;
    uint32_t timestamp;
};

// A Windows x64 crash: system info, the exception on thread 7 with the
// context given, the modules, and the stack memory at stackAddress.
struct CrashSpec
{
    bool x86 = false;  // an x86 process: 32-bit context, registers as eax...
    uint32_t code = 0xC0000005;
    std::vector<uint64_t> parameters = {0, 0x10};
    uint64_t rip = 0;
    std::vector<std::pair<int, uint64_t>> registers;
    std::vector<DumpModule> modules;
    uint64_t stackAddress = 0x10000;
    Bytes stack;
};

Bytes MakeCrashDump(const CrashSpec& spec);

// An x64 PE image loaded at 0x140000000: .text at RVA 0x1000 with code,
// unwind data at 0x2000 (xdata, one UNWIND_INFO per entry) and .pdata at
// 0x3000 listing functions [begin, end) whose unwind infos are xdata
// offsets; symbols name code RVAs in a COFF symbol table.
struct ImageFunction
{
    uint32_t begin;
    uint32_t end;
    uint32_t xdataOffset;
};

struct ImageSpec
{
    uint32_t timestamp = 0x5F000000;
    Bytes code;
    Bytes xdata;
    std::vector<ImageFunction> functions;
    std::vector<std::pair<uint32_t, std::string>> symbols;
};

constexpr uint64_t kImageBase = 0x140000000;
constexpr uint32_t kImageSize = 0x5000;

Bytes MakeX64Image(const ImageSpec& spec);
