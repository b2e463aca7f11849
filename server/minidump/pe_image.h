// Reads a stored release binary (PE32 or PE32+): its identity, sections,
// exception directory and function names, from bytes the caller keeps
// alive for as long as the result is used.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/minidump/byte_view.h"
#include "server/minidump/minidump_types.h"

struct PeSection
{
    std::string name;
    uint32_t virtualAddress = 0;
    uint32_t virtualSize = 0;
    uint32_t rawOffset = 0;
    uint32_t rawSize = 0;
    uint32_t characteristics = 0;
};

// A .pdata entry: the function [begin, end) and where its UNWIND_INFO is.
struct RuntimeFunction
{
    uint32_t begin = 0;
    uint32_t end = 0;
    uint32_t unwindInfo = 0;
};

struct PeSymbol
{
    uint32_t rva = 0;
    std::string name;
};

struct PeImage
{
    bool readable = false;
    std::string refusal;
    std::vector<std::string> problems;

    ByteView file;
    uint16_t machine = 0;
    CpuArchitecture architecture = CpuArchitecture::Unknown;
    bool pe32Plus = false;
    // A dump's module is this binary when both match.
    uint32_t timestamp = 0;
    uint32_t sizeOfImage = 0;
    uint64_t imageBase = 0;
    std::vector<PeSection> sections;
    std::vector<RuntimeFunction> functions;  // sorted by begin
    std::vector<PeSymbol> symbols;           // code symbols and exports, sorted by rva
};

PeImage ReadPeImage(ByteView file);

// Copies the image's bytes at rva as the loader would map them (zeros past
// a section's raw data); false when rva is in no section.
bool ReadImageBytes(const PeImage& image, uint64_t rva, uint64_t length, uint8_t* out);

bool IsExecutableRva(const PeImage& image, uint64_t rva);

// The .pdata entry whose function holds rva, or null.
const RuntimeFunction* FindRuntimeFunction(const PeImage& image, uint64_t rva);

// The nearest code symbol at or below rva within the same section, or
// null.
const PeSymbol* FindSymbolAt(const PeImage& image, uint64_t rva);

// A C++ name demangled where the compiler's runtime can; others as given.
std::string DemangleName(const std::string& name);
