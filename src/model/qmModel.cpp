#include "model/qmModel.h"

#include "util/binaryFile.h"
#include "util/lastError.h"

#include <algorithm>
#include <new>

namespace {

constexpr double kFixedPointScale = 0.001;
// Blocks are read in slices of this many elements, so storage only grows as far as the file
// actually delivers data, even where its size cannot be known in advance (pipes, devices).
constexpr std::uint32_t kSliceElements = 1u << 22;

// Fails the load (last error 1 with the file name) when the file cannot hold `bytes` more.
bool fileCanHold(BinaryFile& reader, std::uint64_t bytes, bool sizeKnown) {
    if (!sizeKnown || bytes <= reader.bytesRemaining()) {
        return true;
    }
    setLastError(kLastErrorRead, reader.fileName());
    reader.close();
    return false;
}

// Reads `count` elements of type T into `out` (resized to count), slice by slice.
template <class T>
bool readArray(BinaryFile& reader, std::vector<T>& out, std::uint32_t count, bool sizeKnown) {
    out.clear();
    if (!fileCanHold(reader, std::uint64_t{count} * sizeof(T), sizeKnown)) {
        return false;
    }
    std::uint32_t done = 0;
    do {
        const std::uint32_t slice = std::min(count - done, kSliceElements);
        out.resize(std::size_t{done} + slice);
        if (!reader.read(out.data() + done, sizeof(T), slice)) {
            return false;
        }
        done += slice;
    } while (done < count);
    return true;
}

bool readU32(BinaryFile& reader, std::uint32_t& value) {
    return reader.read(&value, 4, 1);
}

// Reads `count` fixed-point numbers and stores value * 0.001 (rounded to single precision)
// at data[i * stride]; returns the sum of squares accumulated in single precision.
// `destination` is sized only once the numbers have arrived.
bool readScaled(BinaryFile& reader, std::vector<std::int16_t>& scratch, std::uint32_t count,
                std::vector<float>& destination, std::size_t stride, bool sizeKnown,
                float* sumOfSquares) {
    if (count == 0) {
        destination.clear();
        return true;
    }
    if (!readArray(reader, scratch, count, sizeKnown)) {
        return false;
    }
    destination.assign(std::size_t{count} * stride, 0.0f);
    float* data = destination.data();
    float sum = 0.0f;
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto v = static_cast<float>(static_cast<double>(scratch[i]) * kFixedPointScale);
        data[i * stride] = v;
        sum = sum + v * v;
    }
    if (sumOfSquares != nullptr) {
        *sumOfSquares = sum;
    }
    return true;
}

bool isRegularFile(BinaryFile& reader) {
    return reader.isRegularFile();
}

} // namespace

bool readQmHeader(BinaryFile& reader, QmModel& model, std::uint32_t& recordCount,
                  std::uint32_t& imageFlag) {
    std::uint32_t lengths[4] = {};
    if (!readU32(reader, model.header0) || !readU32(reader, model.header1) ||
        !readU32(reader, lengths[0]) || !readU32(reader, lengths[1]) ||
        !readU32(reader, lengths[2]) || !readU32(reader, lengths[3]) ||
        !readU32(reader, recordCount) || !readU32(reader, imageFlag)) {
        return false;
    }
    const bool sizeKnown = isRegularFile(reader);
    std::uint64_t vectorBytes = 0;
    for (std::uint32_t length : lengths) {
        vectorBytes += std::uint64_t{length} * 2;
    }
    if (!fileCanHold(reader, vectorBytes, sizeKnown)) {
        return false;
    }
    for (int k = 0; k < 4; ++k) {
        model.vectors[k].rows = lengths[k];
        model.vectors[k].cols = 1;
        model.vectors[k].data.clear();
    }
    std::vector<std::int16_t> scratch;
    for (auto& vector : model.vectors) {
        if (!readScaled(reader, scratch, vector.rows, vector.data, vector.cols, sizeKnown,
                        nullptr)) {
            return false;
        }
    }
    return true;
}

static bool loadQmFileUnguarded(const std::string& fileName, QmModel& model);

bool loadQmFile(const std::string& fileName, QmModel& model) {
    try {
        return loadQmFileUnguarded(fileName, model);
    } catch (const std::bad_alloc&) {
        // Storage is only sized for data the file delivers, but the records' own bookkeeping
        // can still exceed the memory at hand: a failed load, not an ended process.
        setLastError(kLastErrorMemory, "Memory allocation error.");
        return false;
    }
}

static bool loadQmFileUnguarded(const std::string& fileName, QmModel& model) {
    BinaryFile reader("VXQM0001");
    if (!reader.openRead(fileName)) {
        return false;
    }
    std::uint32_t recordCount = 0;
    std::uint32_t imageFlag = 0;
    if (!readQmHeader(reader, model, recordCount, imageFlag)) {
        return false;
    }
    const bool sizeKnown = isRegularFile(reader);

    // Every record takes at least its 4-byte value plus its four parts.
    std::uint64_t recordBytes = 4;
    for (const auto& vector : model.vectors) {
        recordBytes += std::uint64_t{vector.rows} * 2;
    }
    if (!fileCanHold(reader, recordBytes * recordCount, sizeKnown)) {
        return false;
    }
    model.records.clear();
    // A regular file has just been shown to hold every record: the array is sized once, which
    // bounds the bookkeeping (sizeof(QmRecord) per record of at least 4 file bytes) without
    // the slack and the copies of a growing array. Otherwise records are appended as they
    // are read, so a short stream never backs a huge array.
    if (sizeKnown) {
        model.records.reserve(recordCount);
    }
    std::vector<std::int16_t> scratch;
    for (std::uint32_t r = 0; r < recordCount; ++r) {
        QmRecord& record = model.records.emplace_back();
        float total = 0.0f;
        for (int i = 0; i < 2; ++i) {
            for (int j = 0; j < 2; ++j) {
                QmMatrix& part = record.parts[i][j];
                const std::uint32_t count = model.vectors[2 * i + j].rows;
                part.rows = 1;
                part.cols = count;
                float partSum = 0.0f;
                if (!readScaled(reader, scratch, count, part.data, 1, sizeKnown, &partSum)) {
                    return false;
                }
                total = total + partSum;
            }
        }
        record.invSquaredNorm = 1.0f / total;
        if (!readU32(reader, record.value)) {
            return false;
        }
    }

    model.imageBytes.clear();
    if (imageFlag == 1) {
        std::uint32_t imageLength = 0;
        if (!readU32(reader, imageLength) ||
            !readArray(reader, model.imageBytes, imageLength, sizeKnown)) {
            return false;
        }
    }
    return true;
}
