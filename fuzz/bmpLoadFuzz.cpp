// Fuzzes the bitmap path: BMP file checks, DIB conversion, run-length decoding, shading ratio.
#include "fuzzEntries.h"

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (const char* failure = fuzz_entry::runBmpLoad(data, size)) {
        std::fprintf(stderr, "bmpLoadFuzz: %s\n", failure);
        __builtin_trap();
    }
    return 0;
}
