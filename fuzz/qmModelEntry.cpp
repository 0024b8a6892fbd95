// The QM model loader on one input: the bytes as a model file through loadQmFile.
// Shared by the fuzz target and the regression replay in the tests.
#include "fuzzEntries.h"

#include "fuzzInput.h"
#include "model/qmModel.h"
#include "util/lastError.h"

#include <cstdint>

namespace fuzz_entry {

const char* runQmModel(const std::uint8_t* data, std::size_t size) {
    static fuzz_support::MemoryFile file("qmjpeg-fuzz-model");
    if (!file.ok() || !file.assign(data, size)) {
        return nullptr;
    }
    clearLastError();
    QmModel model;
    if (!loadQmFile(file.path(), model)) {
        return lastError().code == 0 ? "a failed load left no cause" : nullptr;
    }
    // What was loaded must have come from the file.
    std::uint64_t bytes = 40 + model.imageBytes.size();
    for (const QmMatrix& vector : model.vectors) {
        if (vector.data.size() != vector.rows || vector.cols != 1) {
            return "vector storage does not match its length";
        }
        bytes += 2 * std::uint64_t{vector.rows};
    }
    bytes += 4 * std::uint64_t{model.records.size()};
    if (model.coefficients.size() != model.records.size() * model.recordStride()) {
        return "coefficient storage does not match the records";
    }
    for (std::size_t r = 0; r < model.records.size(); ++r) {
        for (int i = 0; i < 2; ++i) {
            for (int j = 0; j < 2; ++j) {
                const QmPartView part = model.part(r, i, j);
                if (part.cols != model.vectors[2 * i + j].rows || part.data.size() != part.cols) {
                    return "record part does not match its vector";
                }
                bytes += 2 * std::uint64_t{part.cols};
            }
        }
    }
    if (bytes > size) {
        return "model holds more than the file";
    }
    return nullptr;
}

} // namespace fuzz_entry
