#include "server/minidump/crash_text.h"

#include <cstdio>

#include "server/minidump/cpu_context.h"
#include "server/minidump/crash_reason.h"
#include "server/minidump/crash_signature.h"
#include "server/minidump/minidump_reader.h"

namespace {

// Names in a dump are the sender's bytes: no terminal control from them.
std::string MakePrintable(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return out;
}

std::string PadRight(const std::string& text, size_t width)
{
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::string FormatVersion(const ModuleInfo& module)
{
    if (!module.hasVersion)
        return "-";
    return std::to_string(module.fileVersion[0]) + "." + std::to_string(module.fileVersion[1]) + "." +
           std::to_string(module.fileVersion[2]) + "." + std::to_string(module.fileVersion[3]);
}

// The PDB identity a symbol server keys on: GUID in its text form and age.
std::string FormatPdb(const ModuleInfo& module)
{
    if (!module.hasPdb)
        return "-";
    const uint8_t* g = module.pdbGuid;
    char text[64];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", LoadU32(g),
                  LoadU16(g + 4), LoadU16(g + 6), g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
    return MakePrintable(module.pdbName) + " " + text + " age " + std::to_string(module.pdbAge);
}

std::string FormatRegisters(const CpuContext& context)
{
    bool x64 = context.architecture == CpuArchitecture::X64;
    int digits = x64 ? 16 : 8;
    int count = x64 ? kRegisterCount : 8;
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "  " + PadRight(GetRegisterName(context.architecture, i), 4) + "= " +
                FormatHexWidth(context.registers[i], digits);
        if (i % 4 == 3)
            text += "\n";
    }
    text += std::string("  ") + (x64 ? "rip " : "eip ") + "= " + FormatHexWidth(context.instructionPointer, digits) +
            "  flags = " + FormatHexWidth(context.eflags, 8) + "\n";
    return text;
}

}  // namespace

ProcessedCrash ProcessCrash(const Minidump& dump, const std::vector<const PeImage*>& binaries)
{
    ProcessedCrash crash;
    const std::string kind = dump.exception.present ? NameCrashKind(dump.exception) : "no exception";
    crash.reason = DescribeException(dump.exception);
    crash.frames = WalkCrashingStack(dump, binaries);
    crash.signature = MakeCrashSignature(kind, crash.frames, GetSystemLibraries());
    return crash;
}

std::string FormatProcessedCrash(const Minidump& dump, const ProcessedCrash& crash)
{
    std::string text;
    text += "Signature:  " + MakePrintable(crash.signature) + "\n";
    text += "Reason:     " + crash.reason + "\n";
    if (dump.exception.present) {
        text += "Thread:     " + std::to_string(dump.exception.threadId) + "\n";
        text += "Module:     " + MakePrintable(DescribeCodeAddress(dump, dump.exception.address)) + "\n";
    }
    text += "System:     " + MakePrintable(DescribeOperatingSystem(dump)) + "\n";
    text += "Processor:  " + MakePrintable(DescribeProcessor(dump.system)) + "\n";
    const std::string uptime = DescribeUptime(dump);
    if (!uptime.empty())
        text += "Uptime:     " + uptime + "\n";
    for (const std::string& problem : dump.problems)
        text += "Unread:     " + problem + "\n";

    if (!crash.frames.empty()) {
        int digits = dump.exception.context.architecture == CpuArchitecture::X64 ? 16 : 8;
        text += "\nStack of thread " + std::to_string(dump.exception.threadId) + ":\n";
        for (size_t i = 0; i < crash.frames.size(); ++i) {
            const StackFrame& frame = crash.frames[i];
            std::string where = frame.module.empty() ? "?" : MakePrintable(frame.module) + "+" + FormatHex(frame.moduleOffset);
            std::string function = frame.function.empty()
                                       ? ""
                                       : MakePrintable(frame.function) + "+" + FormatHex(frame.functionOffset);
            text += "  " + PadRight(std::to_string(i), 4) + FormatHexWidth(frame.instructionPointer, digits) + "  " +
                    PadRight(where, 32) + PadRight(function.empty() ? "-" : function, 40) +
                    NameFrameSource(frame.source) + "\n";
        }
        text += "\nRegisters:\n" + FormatRegisters(dump.exception.context);
    }

    text += "\nModules:\n";
    for (const ModuleInfo& module : dump.modules) {
        text += "  " + FormatHexWidth(module.base, 16) + "  " + PadRight(FormatHex(module.size), 10) +
                PadRight(MakePrintable(GetModuleFileName(module.path)), 24) + PadRight(FormatVersion(module), 16) +
                "timestamp " + FormatHexWidth(module.timestamp, 8) + "  " + FormatPdb(module) + "\n";
    }
    if (!dump.unloadedModules.empty()) {
        text += "\nUnloaded modules:\n";
        for (const UnloadedModule& module : dump.unloadedModules)
            text += "  " + FormatHexWidth(module.base, 16) + "  " + PadRight(FormatHex(module.size), 10) +
                    MakePrintable(GetModuleFileName(module.path)) + "\n";
    }
    return text;
}
