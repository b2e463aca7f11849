// A crash dump processed into what a maintainer reads: the reason, the
// signature, the crashing thread's stack, and the text that shows them.
#pragma once

#include <string>
#include <vector>

#include "server/minidump/minidump_types.h"
#include "server/minidump/pe_image.h"
#include "server/minidump/stack_walker.h"

// What the crash store keeps of a dump beside its text; the text's other
// lines are read from the dump as it is written.
struct ProcessedCrash
{
    std::string reason;  // DescribeException
    std::vector<StackFrame> frames;
    std::string signature;
};

ProcessedCrash ProcessCrash(const Minidump& dump, const std::vector<const PeImage*>& binaries);

// The whole text: summary lines, the frame table, the crashing thread's
// registers, the modules and unloaded modules, and what could not be read.
// Text taken from the dump has its control bytes replaced.
std::string FormatProcessedCrash(const Minidump& dump, const ProcessedCrash& crash);
