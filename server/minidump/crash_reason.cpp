#include "server/minidump/crash_reason.h"

#include "server/minidump/minidump_reader.h"

namespace {

struct CodeName
{
    uint32_t code;
    const char* name;
};

// The codes a crashing Windows program meets, named as ntstatus.h and
// winbase.h name them.
constexpr CodeName kCodeNames[] = {
    {0x80000001, "EXCEPTION_GUARD_PAGE"},
    {0x80000002, "EXCEPTION_DATATYPE_MISALIGNMENT"},
    {0x80000003, "EXCEPTION_BREAKPOINT"},
    {0x80000004, "EXCEPTION_SINGLE_STEP"},
    {0xC0000005, "EXCEPTION_ACCESS_VIOLATION"},
    {0xC0000006, "EXCEPTION_IN_PAGE_ERROR"},
    {0xC0000008, "EXCEPTION_INVALID_HANDLE"},
    {0xC000001D, "EXCEPTION_ILLEGAL_INSTRUCTION"},
    {0xC0000025, "EXCEPTION_NONCONTINUABLE_EXCEPTION"},
    {0xC0000026, "EXCEPTION_INVALID_DISPOSITION"},
    {0xC000008C, "EXCEPTION_ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008D, "EXCEPTION_FLT_DENORMAL_OPERAND"},
    {0xC000008E, "EXCEPTION_FLT_DIVIDE_BY_ZERO"},
    {0xC000008F, "EXCEPTION_FLT_INEXACT_RESULT"},
    {0xC0000090, "EXCEPTION_FLT_INVALID_OPERATION"},
    {0xC0000091, "EXCEPTION_FLT_OVERFLOW"},
    {0xC0000092, "EXCEPTION_FLT_STACK_CHECK"},
    {0xC0000093, "EXCEPTION_FLT_UNDERFLOW"},
    {0xC0000094, "EXCEPTION_INT_DIVIDE_BY_ZERO"},
    {0xC0000095, "EXCEPTION_INT_OVERFLOW"},
    {0xC0000096, "EXCEPTION_PRIV_INSTRUCTION"},
    {0xC00000FD, "EXCEPTION_STACK_OVERFLOW"},
    {0xC0000135, "STATUS_DLL_NOT_FOUND"},
    {0xC0000139, "STATUS_ENTRYPOINT_NOT_FOUND"},
    {0xC0000142, "STATUS_DLL_INIT_FAILED"},
    {0xC0000194, "EXCEPTION_POSSIBLE_DEADLOCK"},
    {0xC0000374, "STATUS_HEAP_CORRUPTION"},
    {0xC0000409, "EXCEPTION_STACK_BUFFER_OVERRUN"},
    {0xC0000417, "STATUS_INVALID_CRUNTIME_PARAMETER"},
    {0xC0000420, "STATUS_ASSERTION_FAILURE"},
    {0xE06D7363, "EXCEPTION_CXX"},  // "msc": an MSVC C++ throw nobody caught
    {0x20474343, "EXCEPTION_GCC_CXX"},  // "GCC": a MinGW C++ throw
};

// Parameter 0 of a fail-fast (EXCEPTION_STACK_BUFFER_OVERRUN) says why.
const char* NameFastFailCode(uint64_t code)
{
    static const char* const names[] = {
        "legacy /GS violation",    "vtable guard check failure", "stack cookie check failure",
        "corrupt list entry",      "incorrect stack",            "invalid argument",
        "/GS cookie initialisation", "fatal application exit",   "range check failure",
        "unsafe registry access",  "guard indirect call check failure",
    };
    return code < sizeof names / sizeof names[0] ? names[code] : nullptr;
}

std::string DescribeMemoryAccess(const ExceptionInfo& exception)
{
    if (exception.parameters.size() < 2)
        return "";
    const char* verb = exception.parameters[0] == 0   ? "reading"
                       : exception.parameters[0] == 1 ? "writing"
                       : exception.parameters[0] == 8 ? "executing"
                                                      : "accessing";
    return std::string(" (") + verb + " address " + FormatHex(exception.parameters[1]) + ")";
}

}  // namespace

std::string NameExceptionCode(uint32_t code)
{
    for (const CodeName& entry : kCodeNames)
        if (entry.code == code)
            return entry.name;
    return FormatHexWidth(code, 8);
}

std::string NameCrashKind(const ExceptionInfo& exception)
{
    std::string name = NameExceptionCode(exception.code);
    if (exception.code == 0xC0000005 && !exception.parameters.empty()) {
        switch (exception.parameters[0]) {
        case 0: return name + "_READ";
        case 1: return name + "_WRITE";
        case 8: return name + "_EXEC";
        default: break;
        }
    }
    return name;
}

std::string DescribeException(const ExceptionInfo& exception)
{
    if (!exception.present)
        return "no exception recorded";
    std::string text = NameCrashKind(exception) + " at " + FormatHex(exception.address);
    switch (exception.code) {
    case 0xC0000005:
    case 0xC0000006:
        text += DescribeMemoryAccess(exception);
        break;
    case 0xC0000409:
        if (!exception.parameters.empty()) {
            const char* why = NameFastFailCode(exception.parameters[0]);
            text += " (fail-fast code " + std::to_string(exception.parameters[0]) +
                    (why ? std::string(": ") + why : std::string()) + ")";
        }
        break;
    default:
        break;
    }
    if (exception.flags & 1)
        text += ", noncontinuable";
    return text;
}

std::string DescribeOperatingSystem(const Minidump& dump)
{
    const SystemInfo& system = dump.system;
    if (!system.present)
        return "unknown system";
    std::string name;
    uint32_t version = system.majorVersion * 100 + system.minorVersion;
    bool server = system.productType > 1;
    switch (version) {
    case 501: name = "Windows XP"; break;
    case 502: name = server ? "Windows Server 2003" : "Windows XP x64"; break;
    case 600: name = server ? "Windows Server 2008" : "Windows Vista"; break;
    case 601: name = server ? "Windows Server 2008 R2" : "Windows 7"; break;
    case 602: name = server ? "Windows Server 2012" : "Windows 8"; break;
    case 603: name = server ? "Windows Server 2012 R2" : "Windows 8.1"; break;
    case 1000:
        // Windows 11 kept version 10.0 and is told apart by its build.
        name = server ? "Windows Server" : system.buildNumber >= 22000 ? "Windows 11" : "Windows 10";
        break;
    default: name = "Windows"; break;
    }
    std::string text = name;
    if (!system.servicePack.empty())
        text += " " + system.servicePack;
    text += " (" + std::to_string(system.majorVersion) + "." + std::to_string(system.minorVersion) + "." +
            std::to_string(system.buildNumber) + ")";
    if (dump.madeByWine)
        text += ", Wine" + (dump.wineVersion.empty() ? std::string() : " " + dump.wineVersion);
    return text;
}

std::string DescribeProcessor(const SystemInfo& system)
{
    if (!system.present)
        return "unknown processor";
    const char* name = "unknown architecture";
    switch (system.architecture) {
    case CpuArchitecture::X86: name = "x86"; break;
    case CpuArchitecture::X64: name = "x64"; break;
    case CpuArchitecture::Arm: name = "ARM"; break;
    case CpuArchitecture::Arm64: name = "ARM64"; break;
    case CpuArchitecture::Unknown: break;
    }
    std::string text = name;
    if (system.architecture == CpuArchitecture::Unknown)
        text += " " + std::to_string(system.rawArchitecture);
    text += ", " + std::to_string(system.processorCount) + (system.processorCount == 1 ? " CPU" : " CPUs");
    if (!system.cpuVendor.empty()) {
        // The revision packs the model in its high byte, the stepping low.
        text += " (" + system.cpuVendor + ", family " + std::to_string(system.processorLevel) + " model " +
                std::to_string(system.processorRevision >> 8) + " stepping " +
                std::to_string(system.processorRevision & 0xFF) + ")";
    }
    return text;
}

std::string DescribeCodeAddress(const Minidump& dump, uint64_t address)
{
    const ModuleInfo* module = FindModuleAt(dump, address);
    if (module)
        return GetModuleFileName(module->path) + "+" + FormatHex(address - module->base);
    // A call into a library unloaded before the crash is a classic cause.
    for (const UnloadedModule& unloaded : dump.unloadedModules)
        if (address - unloaded.base < unloaded.size)
            return GetModuleFileName(unloaded.path) + "+" + FormatHex(address - unloaded.base) + " (unloaded)";
    return FormatHex(address);
}

std::string DescribeUptime(const Minidump& dump)
{
    if (!dump.misc.present || !dump.misc.hasProcessTimes || dump.misc.processCreateTime == 0 ||
        dump.timestamp < dump.misc.processCreateTime)
        return "";
    uint32_t seconds = dump.timestamp - dump.misc.processCreateTime;
    std::string text;
    if (seconds >= 86400)
        text += std::to_string(seconds / 86400) + " d ";
    if (seconds >= 3600)
        text += std::to_string(seconds / 3600 % 24) + " h ";
    if (seconds >= 60)
        text += std::to_string(seconds / 60 % 60) + " min ";
    return text + std::to_string(seconds % 60) + " s";
}
