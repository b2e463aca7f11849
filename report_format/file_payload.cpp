#include "report_format/file_payload.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "report_format/record_format.h"

namespace {

struct FreeDeleter
{
    void operator()(char* p) const { std::free(p); }
};

char* CopyText(const char* text)
{
    const size_t size = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(size));
    if (copy != nullptr)
        std::memcpy(copy, text, size);
    return copy;
}

}  // namespace

char* ReadFilePayload(void* source, uint32_t size, ReadFileFn read)
{
    // A missing file and an empty one look the same on the wire.
    if (size == kNoFileSize || size == 0)
        return CopyText(kEmptyFilePayload);

    std::unique_ptr<char, FreeDeleter> bytes(static_cast<char*>(std::malloc(static_cast<size_t>(size) + 1)));
    if (!bytes)
        return nullptr;
    uint32_t got = 0;
    if (!read(source, bytes.get(), size, &got) || got < size)
        return CopyText("");  // a file that changed under us is not guessed at
    bytes.get()[size] = '\0';
    return MakeFilePayload(bytes.get(), size);
}
