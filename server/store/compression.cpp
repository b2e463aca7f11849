#include "server/store/compression.h"

#include <zstd.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// Level -5, one of zstd's "fast" levels: the benchmark's report packs in
// about four fifths of level -1's time and three fifths of level 1's, to
// 0.150 of its body against 0.146 and 0.094, well inside the quarter of the
// body a report may take on disk.
const int kCompressionLevel = -5;

struct ContextFreer
{
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};

}  // namespace

std::string CompressBytes(const std::string& bytes)
{
    // One context per thread: making one costs more than a small text's
    // compression.
    thread_local std::unique_ptr<ZSTD_CCtx, ContextFreer> t_context(ZSTD_createCCtx());
    // The worst case's room, kept from one report to the next: a fresh one
    // would be zeroed and faulted in page by page every time.
    // Only up to a few MiB, so that a rare huge report leaves no huge buffer
    // behind in every worker thread.
    const size_t kLargestKept = 8u << 20;
    thread_local std::vector<char> t_kept;
    std::vector<char> once;
    const size_t bound = ZSTD_compressBound(bytes.size());
    std::vector<char>& t_room = bound <= kLargestKept ? t_kept : once;
    t_room.resize(std::max(t_room.size(), bound));
    size_t size = 0;
    if (t_context)
        size = ZSTD_compressCCtx(t_context.get(), t_room.data(), t_room.size(), bytes.data(), bytes.size(),
                                 kCompressionLevel);
    else
        size = ZSTD_compress(t_room.data(), t_room.size(), bytes.data(), bytes.size(), kCompressionLevel);
    if (ZSTD_isError(size))
        throw std::bad_alloc();  // only a failed allocation makes a bounded compression fail
    return std::string(t_room.data(), size);
}

bool DecompressBytes(const std::string& frame, std::string& bytes, std::string& error)
{
    const unsigned long long size = ZSTD_getFrameContentSize(frame.data(), frame.size());
    if (size == ZSTD_CONTENTSIZE_ERROR || size == ZSTD_CONTENTSIZE_UNKNOWN) {
        error = "a stored field is not a zstd frame";
        return false;
    }
    bytes.assign(static_cast<size_t>(size), '\0');
    const size_t got = ZSTD_decompress(bytes.empty() ? nullptr : &bytes[0], bytes.size(), frame.data(), frame.size());
    if (ZSTD_isError(got) || got != size) {
        error = std::string("a stored field does not decompress: ") +
                (ZSTD_isError(got) ? ZSTD_getErrorName(got) : "wrong size");
        return false;
    }
    return true;
}
