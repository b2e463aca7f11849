// The line that sorts crashes together: what happened and the first frame
// in code of ours rather than the system's.
#pragma once

#include <string>
#include <vector>

#include "server/minidump/stack_walker.h"

// Module names (without ".dll", lower case) whose frames are passed over.
const std::vector<std::string>& GetSystemLibraries();

// "EXCEPTION_ACCESS_VIOLATION_READ msvcrt | crash.exe!CopyName": the
// kind, the system modules above the first other frame as bare names, then
// that frame as module!function, or module+0xoffset when its name is
// unknown. Without such a frame the system modules alone follow the kind.
std::string MakeCrashSignature(const std::string& crashKind, const std::vector<StackFrame>& frames,
                               const std::vector<std::string>& systemLibraries);

// True when the module file name is one of systemLibraries.
bool IsSystemLibrary(const std::string& moduleName, const std::vector<std::string>& systemLibraries);
