// The payload of a file that travels with the report (the diagnostic report
// and the application log): the file is read whole with one read and sent
// as wrapped base64. Portable: the platform supplies the read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The size reported for a file that cannot be opened or measured.
const uint32_t kNoFileSize = 0xFFFFFFFF;

// Reads up to size bytes from the start of source into buffer and stores the
// count in *got. Returns false when the read fails.
typedef bool (*ReadFileFn)(void* source, char* buffer, uint32_t size, uint32_t* got);

// The payload of a file of size bytes: the placeholder for a file that is
// missing, unmeasurable or empty; the empty text when the one read fails or
// comes short; else the wrapped base64 of the bytes before the first NUL.
// Throws std::bad_alloc when memory runs out.
std::string ReadFilePayload(void* source, uint32_t size, ReadFileFn read);
