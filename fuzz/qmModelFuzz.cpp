// Fuzzes the QM model loader with arbitrary file contents.
#include "model/qmModel.h"
#include "util/lastError.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

// The loader reads from a file; keep one per process in the temp folder.
const std::string& scratchPath() {
    static const std::string path = "/tmp/qmjpeg-fuzz-model-" + std::to_string(::getpid());
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(scratchPath().c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    clearLastError();
    QmModel model;
    const bool loaded = loadQmFile(scratchPath(), model);
    if (!loaded && lastError().code == 0) {
        __builtin_trap(); // every failure must leave a cause
    }
    return 0;
}
