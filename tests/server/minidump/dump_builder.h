// Builds small minidumps and x64 PE images for the tests, field by field.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Appends each value little-endian in width bytes.
void Put(Bytes& out, int width, std::initializer_list<uint64_t> values);
void PutU32(Bytes& out, uint64_t value);
void SetU32(Bytes& out, size_t at, uint64_t value);

// A Windows crash on thread 7 with the registers given (indexed as the
// reader numbers them), the modules, and the stack memory at stackAddress;
// the process started 100 s before the dump was written.
struct DumpModule
{
    std::u16string path;
    uint64_t base;
    uint32_t size;
    uint32_t timestamp;
};

struct CrashSpec
{
    bool x86 = false;
    uint32_t code = 0xC0000005;
    std::vector<uint64_t> parameters = {0, 0x10};
    uint64_t rip = 0;
    std::vector<std::pair<int, uint64_t>> registers;
    std::vector<DumpModule> modules;
    uint64_t stackAddress = 0x10000;
    Bytes stack;
};

Bytes MakeCrashDump(const CrashSpec& spec);

// An x64 image loaded at kImageBase: .text at RVA 0x1000 with code, xdata
// at 0x2000 and .pdata at 0x3000 listing functions [begin, end) with their
// unwind info's offset in xdata; symbols name code RVAs in a COFF table.
struct ImageSpec
{
    uint32_t timestamp = 0x5F000000;
    Bytes code;
    Bytes xdata;
    std::vector<std::vector<uint32_t>> functions;  // begin, end, xdata offset
    std::vector<std::pair<uint32_t, std::string>> symbols;
};

constexpr uint64_t kImageBase = 0x140000000;
constexpr uint32_t kImageSize = 0x5000;

Bytes MakeX64Image(const ImageSpec& spec);
