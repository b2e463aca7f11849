// Not a test: prints how fast the reporter turns a file into its payload
// (Base64Encode, then the wrapping into lines of 100) at 1, 8 and 15 MiB.
// Build it optimised (scripts/bench-upload.sh does).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "report_format/base64.h"
#include "report_format/record_format.h"

namespace {

// Log-like bytes without NUL, so the whole size is encoded.
std::string MakeInput(size_t size)
{
    std::mt19937 rng(size);
    std::string bytes(size, ' ');
    for (char& c : bytes)
        c = static_cast<char>(32 + rng() % 95);
    return bytes;
}

// Seconds for one encode and wrap of bytes; the result's length goes to sink
// so the work cannot be dropped.
double TimeOnce(const std::string& bytes, size_t& sink)
{
    const auto start = std::chrono::steady_clock::now();
    const std::string encoded = Base64Encode(static_cast<uint32_t>(bytes.size()), bytes.data());
    const std::string wrapped = WrapBase64Lines(encoded.data(), encoded.size());
    const auto end = std::chrono::steady_clock::now();
    sink += wrapped.size();
    return std::chrono::duration<double>(end - start).count();
}

}  // namespace

int main()
{
    size_t sink = 0;
    for (size_t mebibytes : {1, 8, 15}) {
        const std::string bytes = MakeInput(mebibytes << 20);
        double best = 1e9, total = 0;
        int runs = 0;
        while (total < 1.0 || runs < 5) {
            const double seconds = TimeOnce(bytes, sink);
            best = std::min(best, seconds);
            total += seconds;
            ++runs;
        }
        std::printf("encode+wrap %2zu MiB: best %7.2f ms, %6.0f MB/s of input (mean %.0f MB/s, %d runs)\n",
                    mebibytes, best * 1e3, bytes.size() / best / 1e6, bytes.size() * runs / total / 1e6, runs);
    }
    return sink == 0 ? 1 : 0;
}
