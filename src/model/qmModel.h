// The QM model: four coefficient vectors, a list of records and an optional embedded JPEG file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class BinaryFile;

// Dense single-precision matrix, row-major: element (r, c) at r * cols + c.
struct QmMatrix {
    std::uint32_t rows = 0;
    std::uint32_t cols = 0;
    std::vector<float> data;
};

struct QmRecord {
    std::uint32_t value = 0;     // the record's trailing 4 bytes, kept bit for bit
    float invSquaredNorm = 0.0f; // 1 / (sum of the squares of all values of the four parts)
    std::array<std::array<QmMatrix, 2>, 2> parts; // part [i][j] is a 1 x length(2i + j) row
};

struct QmModel {
    std::uint32_t header0 = 0;
    std::uint32_t header1 = 0;
    std::array<QmMatrix, 4> vectors; // vector k is a length(k) x 1 column
    std::vector<QmRecord> records;
    std::vector<std::uint8_t> imageBytes; // the embedded JPEG file, or empty
};

// Loads the whole model file. False on any failure, with the cause in the last-error record;
// the model must then be discarded.
bool loadQmFile(const std::string& fileName, QmModel& model);

// First stage of the loader: the header values and the four vectors, from an open reader.
bool readQmHeader(BinaryFile& reader, QmModel& model, std::uint32_t& recordCount,
                  std::uint32_t& imageFlag);
