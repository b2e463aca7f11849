#include "server/minidump/crash_signature.h"

#include <algorithm>

#include "server/minidump/byte_view.h"

const std::vector<std::string>& GetSystemLibraries()
{
    // Windows' own and the C runtimes: a crash that ends in them is caused
    // by the caller's arguments, so the caller names it.
    static const std::vector<std::string> libraries = {
        "ntdll",     "kernel32",  "kernelbase", "user32",     "gdi32",      "gdi32full", "win32u",
        "msvcrt",    "ucrtbase",  "vcruntime140", "vcruntime140_1", "msvcp140", "combase", "ole32",
        "oleaut32",  "rpcrt4",    "advapi32",   "sechost",    "shell32",    "shlwapi",   "ws2_32",
        "comctl32",  "dbghelp",   "wow64",      "wow64cpu",   "wow64win",
    };
    return libraries;
}

static std::string GetStem(const std::string& moduleName)
{
    std::string stem = moduleName;
    std::transform(stem.begin(), stem.end(), stem.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    size_t dot = stem.rfind('.');
    if (dot != std::string::npos)
        stem.erase(dot);
    return stem;
}

bool IsSystemLibrary(const std::string& moduleName, const std::vector<std::string>& systemLibraries)
{
    std::string stem = GetStem(moduleName);
    return std::find(systemLibraries.begin(), systemLibraries.end(), stem) != systemLibraries.end();
}

std::string MakeCrashSignature(const std::string& crashKind, const std::vector<StackFrame>& frames,
                               const std::vector<std::string>& systemLibraries)
{
    std::vector<std::string> parts;
    for (const StackFrame& frame : frames) {
        if (frame.module.empty())
            continue;
        if (IsSystemLibrary(frame.module, systemLibraries)) {
            std::string stem = GetStem(frame.module);
            // A module recursing into itself is named once.
            if (parts.empty() || parts.back() != stem)
                parts.push_back(stem);
            continue;
        }
        parts.push_back(frame.function.empty() ? frame.module + "+" + FormatHex(frame.moduleOffset)
                                               : frame.module + "!" + frame.function);
        break;
    }
    std::string signature = crashKind;
    for (size_t i = 0; i < parts.size(); ++i)
        signature += (i == 0 ? " " : " | ") + parts[i];
    return signature;
}
