// Fuzzes the QM model loader with arbitrary file contents.
#include "fuzzEntries.h"

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (const char* failure = fuzz_entry::runQmModel(data, size)) {
        std::fprintf(stderr, "qmModelFuzz: %s\n", failure);
        __builtin_trap();
    }
    return 0;
}
