#include "server/minidump/pe_image.h"

#include <algorithm>
#include <cstdlib>

#if __has_include(<cxxabi.h>)
#include <cxxabi.h>
#define BREVORA_HAS_CXXABI 1
#endif

namespace {

constexpr uint16_t kDosMagic = 0x5A4D;       // "MZ"
constexpr uint32_t kPeSignature = 0x4550;    // "PE\0\0"
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint16_t kMachineI386 = 0x14C;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint64_t kCoffHeaderSize = 20;
constexpr uint64_t kSectionHeaderSize = 40;
constexpr uint64_t kSymbolSize = 18;
constexpr uint64_t kRuntimeFunctionSize = 12;
constexpr uint64_t kExportDirectorySize = 40;
constexpr uint32_t kExecutableSection = 0x20000000;  // IMAGE_SCN_MEM_EXECUTE
constexpr uint32_t kCodeSection = 0x00000020;        // IMAGE_SCN_CNT_CODE
constexpr int kExportDirectory = 0;
constexpr int kExceptionDirectory = 3;

// What one entry point may bring: a name longer than this is corrupt.
constexpr uint64_t kMaxSymbolName = 4096;

struct DataDirectory
{
    uint32_t rva = 0;
    uint32_t size = 0;
};

// The section whose mapped bytes (the larger of its virtual and raw sizes)
// hold rva, or null.
const PeSection* FindSection(const PeImage& image, uint64_t rva)
{
    for (const PeSection& section : image.sections) {
        uint64_t mapped = std::max(section.virtualSize, section.rawSize);
        if (rva >= section.virtualAddress && rva - section.virtualAddress < mapped)
            return &section;
    }
    return nullptr;
}

// The file offset of [rva, rva + length) when a section's raw data holds
// all of it.
bool MapRva(const PeImage& image, uint64_t rva, uint64_t length, uint64_t& offset)
{
    for (const PeSection& section : image.sections) {
        uint64_t skip = rva - section.virtualAddress;
        if (rva >= section.virtualAddress && skip < section.rawSize && length <= section.rawSize - skip) {
            offset = section.rawOffset + skip;
            return HasBytes(image.file, offset, length);
        }
    }
    return false;
}

// A NUL-terminated name. Many entries may point at the same bytes, so all
// names read from one image together get at most the file's size (budget);
// false once it is spent.
bool ReadCString(ByteView file, uint64_t offset, uint64_t& budget, std::string& text)
{
    text.clear();
    for (uint64_t i = 0; i < kMaxSymbolName && HasBytes(file, offset + i, 1) && file.data[offset + i]; ++i)
        text += static_cast<char>(file.data[offset + i]);
    if (text.size() > budget)
        return false;
    budget -= text.size();
    return true;
}

void ReadSections(PeImage& image, uint64_t at, uint64_t count)
{
    if (!HasBytes(image.file, at, count * kSectionHeaderSize)) {
        image.problems.push_back("section table: past the end of the file");
        count = at <= image.file.size ? (image.file.size - at) / kSectionHeaderSize : 0;
    }
    for (uint64_t i = 0; i < count; ++i) {
        ByteView header = SliceBytes(image.file, at + i * kSectionHeaderSize, kSectionHeaderSize);
        PeSection section;
        for (int c = 0; c < 8 && header.data[c]; ++c)
            section.name += static_cast<char>(header.data[c]);
        section.virtualSize = FieldU32(header, 8);
        section.virtualAddress = FieldU32(header, 12);
        section.rawSize = FieldU32(header, 16);
        section.rawOffset = FieldU32(header, 20);
        section.characteristics = FieldU32(header, 36);
        // Past the section's virtual size the loader maps nothing of it.
        if (section.virtualSize != 0)
            section.rawSize = std::min(section.rawSize, section.virtualSize);
        if (!HasBytes(image.file, section.rawOffset, section.rawSize)) {
            image.problems.push_back("section " + section.name + ": raw data past the end of the file");
            section.rawSize = 0;
        }
        image.sections.push_back(section);
    }
}

void ReadExceptionDirectory(PeImage& image, DataDirectory directory)
{
    uint64_t offset = 0;
    uint64_t count = directory.size / kRuntimeFunctionSize;
    if (count == 0)
        return;
    if (!MapRva(image, directory.rva, count * kRuntimeFunctionSize, offset)) {
        image.problems.push_back("exception directory: outside the sections' data");
        return;
    }
    image.functions.reserve(count);
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* entry = image.file.data + offset + i * kRuntimeFunctionSize;
        RuntimeFunction function{LoadU32(entry), LoadU32(entry + 4), LoadU32(entry + 8)};
        if (function.begin < function.end)
            image.functions.push_back(function);
    }
    std::sort(image.functions.begin(), image.functions.end(),
              [](const RuntimeFunction& a, const RuntimeFunction& b) { return a.begin < b.begin; });
}

// The COFF symbol table MinGW's linker keeps unless told to strip it:
// function symbols, with long names in the string table after it.
void ReadCoffSymbols(PeImage& image, uint64_t at, uint64_t count, uint64_t& budget)
{
    if (at == 0 || count == 0)
        return;
    ByteView file = image.file;
    if (!HasBytes(file, at, count * kSymbolSize)) {
        image.problems.push_back("symbol table: past the end of the file");
        return;
    }
    uint64_t strings = at + count * kSymbolSize;
    uint64_t stringsSize = HasBytes(file, strings, 4) ? LoadU32(file.data + strings) : 0;
    if (!HasBytes(file, strings, stringsSize))
        stringsSize = 0;
    for (uint64_t i = 0; i < count; ++i) {
        ByteView symbol = SliceBytes(file, at + i * kSymbolSize, kSymbolSize);
        uint8_t auxiliaries = symbol.data[17];
        uint32_t value = FieldU32(symbol, 8);
        int section = static_cast<int16_t>(FieldU16(symbol, 12));
        uint16_t type = FieldU16(symbol, 14);
        uint8_t storage = symbol.data[16];
        i += auxiliaries;
        bool function = ((type >> 4) & 3) == 2;
        bool externalOrStatic = storage == 2 || storage == 3;
        if (!function || !externalOrStatic || section < 1 || static_cast<size_t>(section) > image.sections.size())
            continue;
        std::string name;
        if (FieldU32(symbol, 0) == 0) {
            uint64_t nameAt = FieldU32(symbol, 4);
            if (nameAt < 4 || nameAt >= stringsSize)
                continue;
            if (!ReadCString(SliceBytes(file, strings, stringsSize), nameAt, budget, name)) {
                image.problems.push_back("symbol table: names beyond the file's size");
                return;
            }
        } else {
            for (int c = 0; c < 8 && symbol.data[c]; ++c)
                name += static_cast<char>(symbol.data[c]);
        }
        // 32-bit C names carry a leading underscore (C++ ones one more).
        if (image.architecture == CpuArchitecture::X86 && name.size() > 1 && name[0] == '_')
            name.erase(0, 1);
        uint64_t rva = static_cast<uint64_t>(image.sections[section - 1].virtualAddress) + value;
        if (!name.empty() && rva <= UINT32_MAX)
            image.symbols.push_back(PeSymbol{static_cast<uint32_t>(rva), name});
    }
}

void ReadExports(PeImage& image, DataDirectory directory, uint64_t& budget)
{
    uint64_t offset = 0;
    if (directory.size < kExportDirectorySize)
        return;
    if (!MapRva(image, directory.rva, kExportDirectorySize, offset)) {
        image.problems.push_back("export directory: outside the sections' data");
        return;
    }
    ByteView table = SliceBytes(image.file, offset, kExportDirectorySize);
    uint64_t functionCount = FieldU32(table, 20);
    uint64_t nameCount = FieldU32(table, 24);
    uint64_t functions = 0, names = 0, ordinals = 0;
    if (!MapRva(image, FieldU32(table, 28), functionCount * 4, functions) ||
        !MapRva(image, FieldU32(table, 32), nameCount * 4, names) ||
        !MapRva(image, FieldU32(table, 36), nameCount * 2, ordinals)) {
        image.problems.push_back("export directory: tables outside the sections' data");
        return;
    }
    for (uint64_t i = 0; i < nameCount; ++i) {
        uint64_t ordinal = LoadU16(image.file.data + ordinals + 2 * i);
        uint64_t nameOffset = 0;
        if (ordinal >= functionCount || !MapRva(image, LoadU32(image.file.data + names + 4 * i), 1, nameOffset))
            continue;
        uint32_t rva = LoadU32(image.file.data + functions + 4 * ordinal);
        // An address inside the directory is a forwarder's text, not code.
        if (rva >= directory.rva && rva - directory.rva < directory.size)
            continue;
        std::string name;
        if (!ReadCString(image.file, nameOffset, budget, name)) {
            image.problems.push_back("export directory: names beyond the file's size");
            return;
        }
        image.symbols.push_back(PeSymbol{rva, name});
    }
}

}  // namespace

PeImage ReadPeImage(ByteView file)
{
    PeImage image;
    image.file = file;
    if (!HasBytes(file, 0, 0x40) || LoadU16(file.data) != kDosMagic) {
        image.refusal = "no MZ header";
        return image;
    }
    uint64_t pe = LoadU32(file.data + 0x3C);
    if (!HasBytes(file, pe, 4 + kCoffHeaderSize) || LoadU32(file.data + pe) != kPeSignature) {
        image.refusal = "no PE signature";
        return image;
    }
    ByteView coff = SliceBytes(file, pe + 4, kCoffHeaderSize);
    image.machine = FieldU16(coff, 0);
    image.architecture = image.machine == kMachineAmd64 ? CpuArchitecture::X64
                         : image.machine == kMachineI386 ? CpuArchitecture::X86
                                                         : CpuArchitecture::Unknown;
    uint64_t sectionCount = FieldU16(coff, 2);
    image.timestamp = FieldU32(coff, 4);
    uint64_t symbolTable = FieldU32(coff, 8);
    uint64_t symbolCount = FieldU32(coff, 12);
    uint64_t optionalSize = FieldU16(coff, 16);
    uint64_t optionalAt = pe + 4 + kCoffHeaderSize;
    ByteView optional = SliceBytes(file, optionalAt, optionalSize);
    if (optional.size < 2) {
        image.refusal = "no optional header";
        return image;
    }
    uint16_t magic = FieldU16(optional, 0);
    uint64_t directoriesAt = 0;
    if (magic == kPe32PlusMagic && optional.size >= 112) {
        image.pe32Plus = true;
        image.imageBase = FieldU64(optional, 24);
        directoriesAt = 112;
    } else if (magic == kPe32Magic && optional.size >= 96) {
        image.imageBase = FieldU32(optional, 28);
        directoriesAt = 96;
    } else {
        image.refusal = "optional header of unknown kind or too short";
        return image;
    }
    image.readable = true;
    image.sizeOfImage = FieldU32(optional, 56);
    uint64_t directoryCount = FieldU32(optional, directoriesAt - 4);
    DataDirectory directories[16];
    for (uint64_t i = 0; i < std::min<uint64_t>(directoryCount, 16); ++i) {
        if (directoriesAt + 8 * i + 8 > optional.size)
            break;
        directories[i] = DataDirectory{FieldU32(optional, directoriesAt + 8 * i),
                                       FieldU32(optional, directoriesAt + 8 * i + 4)};
    }

    ReadSections(image, optionalAt + optionalSize, sectionCount);
    if (image.architecture == CpuArchitecture::X64)
        ReadExceptionDirectory(image, directories[kExceptionDirectory]);
    uint64_t nameBudget = file.size;
    ReadCoffSymbols(image, symbolTable, symbolCount, nameBudget);
    ReadExports(image, directories[kExportDirectory], nameBudget);
    std::sort(image.symbols.begin(), image.symbols.end(),
              [](const PeSymbol& a, const PeSymbol& b) { return a.rva < b.rva; });
    return image;
}

bool ReadImageBytes(const PeImage& image, uint64_t rva, uint64_t length, uint8_t* out)
{
    const PeSection* section = FindSection(image, rva);
    if (!section)
        return false;
    uint64_t skip = rva - section->virtualAddress;
    if (length > std::max(section->virtualSize, section->rawSize) - skip)
        return false;
    for (uint64_t i = 0; i < length; ++i)
        out[i] = skip + i < section->rawSize ? image.file.data[section->rawOffset + skip + i] : 0;
    return true;
}

bool IsExecutableRva(const PeImage& image, uint64_t rva)
{
    const PeSection* section = FindSection(image, rva);
    return section && (section->characteristics & (kExecutableSection | kCodeSection)) != 0;
}

const RuntimeFunction* FindRuntimeFunction(const PeImage& image, uint64_t rva)
{
    auto after = std::upper_bound(image.functions.begin(), image.functions.end(), rva,
                                  [](uint64_t a, const RuntimeFunction& f) { return a < f.begin; });
    if (after == image.functions.begin())
        return nullptr;
    const RuntimeFunction& function = *(after - 1);
    return rva < function.end ? &function : nullptr;
}

const PeSymbol* FindSymbolAt(const PeImage& image, uint64_t rva)
{
    auto after = std::upper_bound(image.symbols.begin(), image.symbols.end(), rva,
                                  [](uint64_t a, const PeSymbol& s) { return a < s.rva; });
    if (after == image.symbols.begin())
        return nullptr;
    const PeSymbol& symbol = *(after - 1);
    const PeSection* section = FindSection(image, symbol.rva);
    return section && section == FindSection(image, rva) ? &symbol : nullptr;
}

std::string DemangleName(const std::string& name)
{
#ifdef BREVORA_HAS_CXXABI
    if (name.compare(0, 2, "_Z") == 0) {
        int status = 0;
        char* plain = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
        if (status == 0 && plain) {
            std::string text = plain;
            std::free(plain);
            return text;
        }
        std::free(plain);
    }
#endif
    return name;
}
