// The QM model: four coefficient vectors, a list of records and an optional embedded JPEG file.
#pragma once

#include "util/outcome.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

class BinaryFile;

// Dense single-precision matrix, row-major: element (r, c) at r * cols + c.
struct QmMatrix {
    std::uint32_t rows = 0;
    std::uint32_t cols = 0;
    std::vector<float> data;
};

// A read-only view of one record's part: a 1 x length row inside QmModel::coefficients.
struct QmPartView {
    std::uint32_t rows = 1;
    std::uint32_t cols = 0;
    std::span<const float> data;
};

struct QmRecord {
    std::uint32_t value = 0;     // the record's trailing 4 bytes, kept bit for bit
    float invSquaredNorm = 0.0f; // 1 / (sum of the squares of all values of the four parts)
};

struct QmModel {
    std::uint32_t header0 = 0;
    std::uint32_t header1 = 0;
    std::array<QmMatrix, 4> vectors; // vector k is a length(k) x 1 column
    std::vector<QmRecord> records;
    // Every record's four parts, record after record, each record's parts in the order
    // [0][0], [0][1], [1][0], [1][1]: one flat array instead of one allocation per part.
    std::vector<float> coefficients;
    std::vector<std::uint8_t> imageBytes; // the embedded JPEG file, or empty

    // Values in each record: length0 + length1 + length2 + length3.
    std::size_t recordStride() const;
    // Part [i][j] of record `record`, a 1 x length(2i + j) row.
    QmPartView part(std::size_t record, int i, int j) const;
};

// Loads the whole model file. False on any failure, with the cause in the last-error record;
// the model must then be discarded. Needs at most about twice the file's size in memory (three
// times for a model read from a stream, which is held in full first).
bool loadQmFile(const std::string& fileName, QmModel& model);
// loadQmFile with the reason of a failure, in words for people ("file ends at byte 4000 inside
// record 12 of 40").
Outcome loadQmModel(const std::string& fileName, QmModel& model);

// First stage of the loader: the header values and the four vectors, from an open reader.
bool readQmHeader(BinaryFile& reader, QmModel& model, std::uint32_t& recordCount,
                  std::uint32_t& imageFlag);
