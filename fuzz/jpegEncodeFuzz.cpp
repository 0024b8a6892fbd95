// Fuzzes the JPEG encoder's interface: properties, source and output blocks, both routine sets.
#include "fuzzEntries.h"

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (const char* failure = fuzz_entry::runJpegEncode(data, size)) {
        std::fprintf(stderr, "jpegEncodeFuzz: %s\n", failure);
        __builtin_trap();
    }
    return 0;
}
