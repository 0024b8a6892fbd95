// Fuzzes the whole -i run on two bitmaps: loader against band reader, one lane against several.
#include "fuzzEntries.h"

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (const char* failure = fuzz_entry::runImageRun(data, size)) {
        std::fprintf(stderr, "imageRunFuzz: %s\n", failure);
        __builtin_trap();
    }
    return 0;
}
