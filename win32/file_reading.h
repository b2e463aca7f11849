// Reading a part of a file that a report carries, at an offset: the shape of
// the portable body writers' read function.
#pragma once

#include <cstdint>

// Reads up to size bytes at offset of the file (a HANDLE) into buffer and
// stores the count in *got: 0 at the end of the file. False when the read
// fails.
bool ReadFileAt(void* file, uint64_t offset, char* buffer, uint32_t size, uint32_t* got);
