// The unwind data of a real MinGW binary (crash_maker.exe) as this reader
// decodes it, against llvm-readobj --unwind's reading of the same file.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>

#include "server/minidump/x64_unwind.h"

namespace {

std::string FormatText(const char* format, uint64_t a, uint64_t b = 0)
{
    char text[96];
    std::snprintf(text, sizeof text, format, static_cast<unsigned long long>(a), static_cast<unsigned long long>(b));
    return text;
}

std::string NameRegister(int index)
{
    static const char* const names[16] = {"RAX", "RCX", "RDX", "RBX", "RSP", "RBP", "RSI", "RDI",
                                          "R8",  "R9",  "R10", "R11", "R12", "R13", "R14", "R15"};
    return names[index & 15];
}

// One line per function, in llvm-readobj's words.
std::string DescribeOurs(const PeImage& image, const RuntimeFunction& function)
{
    UnwindInfo info;
    std::string error;
    std::string text = FormatText("%llX %llX", image.imageBase + function.begin, image.imageBase + function.end) +
                       FormatText(" %llX", image.imageBase + function.unwindInfo);
    if (!ReadUnwindInfo(image, function.unwindInfo, info, error))
        return text + " " + error;
    text += FormatText(" v%llu flags=0x%llX", info.version, info.flags) + FormatText(" prolog=%llu", info.prologSize);
    text += info.frameRegister == 0 ? " frame=-/-"
                                    : " frame=" + NameRegister(info.frameRegister) + FormatText("/0x%llX", info.frameOffset);
    for (const UnwindCode& code : info.codes) {
        text += FormatText(" ; 0x%02llX: ", code.prologOffset);
        switch (code.operation) {
        case kPushNonvolatile: text += "PUSH_NONVOL reg=" + NameRegister(code.info); break;
        case kAllocSmall: text += FormatText("ALLOC_SMALL size=%llu", code.operand); break;
        case kAllocLarge: text += FormatText("ALLOC_LARGE size=%llu", code.operand); break;
        case kSetFramePointer:
            text += "SET_FPREG reg=" + NameRegister(info.frameRegister) + FormatText(", offset=0x%llX", info.frameOffset * 16);
            break;
        case kSaveNonvolatile:
        case kSaveNonvolatileFar:
            text += "SAVE_NONVOL reg=" + NameRegister(code.info) + FormatText(", offset=0x%llX", code.operand);
            break;
        case kSaveXmm128:
        case kSaveXmm128Far: text += FormatText("SAVE_XMM128 reg=XMM%llu, offset=0x%llX", code.info, code.operand); break;
        default: text += FormatText("op %llu", code.operation); break;
        }
    }
    return text;
}

// The same lines from llvm-readobj's output.
std::vector<std::string> DescribeTheirs(const std::string& output)
{
    std::vector<std::string> lines;
    std::string line, current;
    std::istringstream in(output);
    const std::regex address(R"(\(0x([0-9A-F]+)\)\s*$)");
    const std::regex value(R"(^\s*(\w+): (.*)$)");
    const std::regex code(R"(^\s*(0x[0-9A-F]{2}: .*)$)");
    const std::regex flags(R"(^\s*Flags \[ \((0x[0-9A-F]+)\))");
    std::string frameRegister;
    std::smatch match;
    while (std::getline(in, line)) {
        if (line.find("RuntimeFunction {") != std::string::npos) {
            if (!current.empty())
                lines.push_back(current);
            current.clear();
        } else if (std::regex_search(line, match, address) && line.find("Address:") != std::string::npos) {
            current += (current.empty() ? "" : " ") + match[1].str();
        } else if (std::regex_search(line, match, flags)) {
            current += " flags=" + match[1].str();
        } else if (std::regex_match(line, match, code)) {
            current += " ; " + match[1].str();
        } else if (std::regex_match(line, match, value)) {
            std::string key = match[1], text = match[2];
            if (key == "Version")
                current += " v" + text;
            else if (key == "PrologSize")
                current += " prolog=" + text;
            else if (key == "FrameRegister")
                frameRegister = text.substr(0, text.find(' '));
            else if (key == "FrameOffset")
                current += " frame=" + frameRegister + "/" + text;
        }
    }
    if (!current.empty())
        lines.push_back(current);
    return lines;
}

TEST(UnwindOracle, ReadsTheUnwindDataOfARealBinaryAsLlvmReadobjDoes)
{
    std::ifstream file(BREVORA_ORACLE_BINARY, std::ios::binary);
    ASSERT_TRUE(file) << BREVORA_ORACLE_BINARY;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    PeImage image = ReadPeImage(ByteView{bytes.data(), bytes.size()});
    ASSERT_TRUE(image.readable) << image.refusal;

    std::string output;
    FILE* pipe = popen(BREVORA_LLVM_READOBJ " --unwind " BREVORA_ORACLE_BINARY, "r");
    ASSERT_NE(nullptr, pipe);
    char buffer[65536];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    ASSERT_EQ(0, pclose(pipe));

    std::vector<std::string> theirs = DescribeTheirs(output);
    ASSERT_LT(100u, theirs.size());
    ASSERT_EQ(theirs.size(), image.functions.size());
    for (size_t i = 0; i < theirs.size(); ++i)
        ASSERT_EQ(theirs[i], DescribeOurs(image, image.functions[i])) << "function " << i;
}

}  // namespace
