#include "report_format/file_payload.h"

#include "report_format/record_format.h"

std::string ReadFilePayload(void* source, uint32_t size, ReadFileFn read)
{
    // A missing file and an empty one look the same on the wire.
    if (size == kNoFileSize || size == 0)
        return kEmptyFilePayload;

    std::string bytes(size, '\0');
    uint32_t got = 0;
    if (!read(source, &bytes[0], size, &got) || got < size)
        return std::string();  // a file that changed under us is not guessed at
    return MakeFilePayload(bytes.data(), size);
}
