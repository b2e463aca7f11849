// Real binaries as this reader decodes them, against llvm-readobj's reading
// of the same files: the unwind data of a MinGW program (crash_maker.exe),
// and the exports of one of Wine's DLLs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>

#include "server/minidump/x64_unwind.h"

namespace {

std::string Hex(uint64_t value, int digits = 1)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

const char* const kRegisters[16] = {"RAX", "RCX", "RDX", "RBX", "RSP", "RBP", "RSI", "RDI",
                                    "R8",  "R9",  "R10", "R11", "R12", "R13", "R14", "R15"};

// One line per function, in llvm-readobj's words.
std::string DescribeOurs(const PeImage& image, const RuntimeFunction& f)
{
    std::string text = Hex(image.imageBase + f.begin) + " " + Hex(image.imageBase + f.end) + " " +
                       Hex(image.imageBase + f.unwindInfo);
    UnwindInfo info;
    std::string error;
    if (!ReadUnwindInfo(image, f.unwindInfo, info, error))
        return text + " " + error;
    text += " v" + std::to_string(info.version) + " " + Hex(info.flags) + " " + std::to_string(info.prologSize) + " " +
            (info.frameRegister ? kRegisters[info.frameRegister] + (" " + Hex(info.frameOffset)) : "- -");
    for (const UnwindCode& code : info.codes) {
        text += " | " + Hex(code.prologOffset, 2) + " ";
        std::string reg = kRegisters[code.info];
        switch (code.operation) {
        case kPushNonvolatile: text += "PUSH_NONVOL reg=" + reg; break;
        case kAllocSmall: text += "ALLOC_SMALL size=" + std::to_string(code.operand); break;
        case kAllocLarge: text += "ALLOC_LARGE size=" + std::to_string(code.operand); break;
        case kSetFramePointer:
            text += std::string("SET_FPREG reg=") + kRegisters[info.frameRegister] + ", offset=" + Hex(info.frameOffset * 16);
            break;
        case kSaveNonvolatile: text += "SAVE_NONVOL reg=" + reg + ", offset=" + Hex(code.operand); break;
        case kSaveXmm128: text += "SAVE_XMM128 reg=XMM" + std::to_string(code.info) + ", offset=" + Hex(code.operand); break;
        default: text += "operation " + std::to_string(code.operation); break;
        }
    }
    return text;
}

// The same lines from llvm-readobj's output: the values after the keys,
// addresses from their parentheses, flags from "Flags [ (0x3)".
std::vector<std::string> DescribeTheirs(const std::string& output)
{
    std::vector<std::string> lines;
    std::istringstream in(output);
    const std::regex field(R"(^\s*(?:\w*Address: .*\((0x[0-9A-F]+)\)|Version: (\d+)|Flags \[ \((0x[0-9A-F]+)\)|)"
                           R"(PrologSize: (\d+)|FrameRegister: (\S+).*|FrameOffset: (\S+)|(0x[0-9A-F]{2}): (.*)))");
    const char* const prefixes[8] = {" ", " v", " ", " ", " ", " ", " | ", " "};
    std::smatch match;
    for (std::string line; std::getline(in, line);) {
        if (line.find("RuntimeFunction {") != std::string::npos)
            lines.emplace_back();
        else if (!lines.empty() && std::regex_match(line, match, field))
            for (int i = 1; i <= 8; ++i)
                if (match[i].matched)
                    lines.back() += prefixes[i - 1] + match[i].str();
    }
    for (std::string& line : lines)
        line.erase(0, 1);
    return lines;
}

std::vector<uint8_t> ReadBytes(const char* path)
{
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::string RunLlvmReadobj(const std::string& arguments)
{
    std::string output;
    FILE* pipe = popen((BREVORA_LLVM_READOBJ " " + arguments).c_str(), "r");
    char buffer[65536];
    for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    return pipe && pclose(pipe) == 0 ? output : "";
}

// True when the symbol at rva is there under name: several names may share
// an address, and any of them may be the one found.
bool NamesAddress(const PeImage& image, uint64_t rva, const std::string& name)
{
    const PeSymbol* found = FindSymbolAt(image, rva);
    if (!found || found->rva != rva)
        return false;
    auto range = std::equal_range(image.symbols.begin(), image.symbols.end(), *found,
                                  [](const PeSymbol& a, const PeSymbol& b) { return a.rva < b.rva; });
    return std::any_of(range.first, range.second, [&](const PeSymbol& s) { return s.name == name; });
}

TEST(UnwindOracle, ReadsTheUnwindDataOfARealBinaryAsLlvmReadobjDoes)
{
    std::vector<uint8_t> bytes = ReadBytes(BREVORA_ORACLE_BINARY);
    PeImage image = ReadPeImage(ByteView{bytes.data(), bytes.size()});
    ASSERT_TRUE(image.readable) << image.refusal;

    std::vector<std::string> theirs = DescribeTheirs(RunLlvmReadobj("--unwind " BREVORA_ORACLE_BINARY));
    ASSERT_LT(100u, theirs.size());
    ASSERT_EQ(theirs.size(), image.functions.size());
    for (size_t i = 0; i < theirs.size(); ++i)
        ASSERT_EQ(theirs[i], DescribeOurs(image, image.functions[i])) << "function " << i;
}

// Every function symbol of the COFF table, x64 and x86 (PE32+ and PE32),
// found at the address llvm-readobj computes from its section.
TEST(UnwindOracle, NamesEachFunctionSymbolAsLlvmReadobjDoes)
{
    for (const char* path : {BREVORA_ORACLE_BINARY, BREVORA_ORACLE_BINARY_X86}) {
        SCOPED_TRACE(path);
        std::vector<uint8_t> bytes = ReadBytes(path);
        PeImage image = ReadPeImage(ByteView{bytes.data(), bytes.size()});
        ASSERT_TRUE(image.readable) << image.refusal;
        std::string headers = RunLlvmReadobj(std::string("--file-headers --sections --symbols ") + path);
        EXPECT_NE(std::string::npos, headers.find("(" + Hex(image.timestamp, 8) + ")"));
        EXPECT_NE(std::string::npos, headers.find("SizeOfImage: " + std::to_string(image.sizeOfImage) + "\n"));

        std::map<int, uint64_t> sections;
        const std::regex section(R"(Number: (\d+)\n.*\n.*\n\s*VirtualAddress: 0x([0-9A-F]+))");
        for (std::sregex_iterator it(headers.begin(), headers.end(), section), end; it != end; ++it)
            sections[std::stoi((*it)[1].str())] = std::stoull((*it)[2].str(), nullptr, 16);
        const std::regex symbol(R"(Name: (\S+)\n\s*Value: (\d+)\n\s*Section: \S+ \((\d+)\)\n.*\n)"
                                R"(\s*ComplexType: Function.*\n\s*StorageClass: (?:External|Static))");
        size_t checked = 0;
        for (std::sregex_iterator it(headers.begin(), headers.end(), symbol), end; it != end; ++it) {
            std::string name = (*it)[1].str();
            if ((*it)[3].str() == "0")  // undefined: a weak external's alias, no code
                continue;
            ++checked;
            if (image.architecture == CpuArchitecture::X86)
                name.erase(0, 1);
            EXPECT_TRUE(NamesAddress(image, sections[std::stoi((*it)[3].str())] + std::stoull((*it)[2].str()), name))
                << name;
        }
        EXPECT_LT(500u, checked);
    }
}

#ifdef BREVORA_ORACLE_DLL
TEST(UnwindOracle, NamesEachExportOfARealDllAsLlvmReadobjDoes)
{
    std::vector<uint8_t> bytes = ReadBytes(BREVORA_ORACLE_DLL);
    PeImage image = ReadPeImage(ByteView{bytes.data(), bytes.size()});
    ASSERT_TRUE(image.readable) << image.refusal;
    std::string output = RunLlvmReadobj("--coff-exports " BREVORA_ORACLE_DLL);
    const std::regex exported(R"(Name: (\S+)\n\s*RVA: 0x([0-9A-F]+))");
    size_t checked = 0;
    for (std::sregex_iterator it(output.begin(), output.end(), exported), end; it != end; ++it) {
        // Forwarders point at their text in the export directory: no code.
        uint64_t rva = std::stoull((*it)[2].str(), nullptr, 16);
        if (!IsExecutableRva(image, rva))
            continue;
        ++checked;
        EXPECT_TRUE(NamesAddress(image, rva, (*it)[1].str())) << (*it)[1].str();
    }
    EXPECT_LT(500u, checked);
}
#endif

}  // namespace
