#include "model/qmModel.h"

#include "util/binaryFile.h"
#include "util/byteOrder.h"
#include "util/lastError.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <new>

namespace {

constexpr double kFixedPointScale = 0.001;
// Blocks are read through one scratch array of at most this many bytes (an even number, so a
// 16-bit number never straddles two slices).
constexpr std::uint64_t kSliceBytes = std::uint64_t{1} << 20;

// Fails the load (last error 1 with the file name) when the file cannot hold `bytes` more.
bool fileCanHold(BinaryFile& reader, std::uint64_t bytes) {
    if (bytes <= reader.bytesRemaining()) {
        return true;
    }
    setLastError(kLastErrorRead, reader.fileName());
    reader.close();
    return false;
}

bool readU32(BinaryFile& reader, std::uint32_t& value) {
    unsigned char bytes[4];
    if (!reader.read(bytes, 4, 1)) {
        return false;
    }
    value = loadLe32(bytes);
    return true;
}

// A stored fixed-point number times 0.001, computed in double and rounded to single precision.
float scaled(const unsigned char* bytes) {
    const auto stored = static_cast<std::int16_t>(loadLe16(bytes));
    return static_cast<float>(static_cast<double>(stored) * kFixedPointScale);
}

// Calls `consume(bytes, size)` for consecutive slices of the next `total` bytes of the file.
template <class Consume>
bool readSlices(BinaryFile& reader, std::vector<unsigned char>& scratch, std::uint64_t total,
                Consume consume) {
    if (!fileCanHold(reader, total)) {
        return false;
    }
    scratch.resize(static_cast<std::size_t>(std::min(total, kSliceBytes)));
    for (std::uint64_t done = 0; done < total;) {
        const auto size = static_cast<std::uint32_t>(std::min(total - done, kSliceBytes));
        if (!reader.read(scratch.data(), 1, size)) {
            return false;
        }
        consume(scratch.data(), size);
        done += size;
    }
    return true;
}

// Fills the records and the flat coefficient array from the record block, slice by slice.
// Each record is `stride` fixed-point numbers (its four parts) and a 4-byte value; the sums of
// squares are accumulated in single precision part by part, as the norm is defined.
class RecordDecoder {
public:
    RecordDecoder(QmModel& model, const std::uint32_t (&lengths)[4])
        : model_(model), stride_(model.recordStride()) {
        std::uint64_t end = 0;
        for (int k = 0; k < 4; ++k) {
            end += lengths[k];
            partEnds_[k] = end;
        }
        skipEmptyParts();
    }

    void operator()(const unsigned char* bytes, std::uint32_t size) {
        for (std::uint32_t at = 0; at < size; at += 2) {
            if (index_ < stride_) {
                const float v = scaled(bytes + at);
                model_.coefficients[record_ * stride_ + index_] = v;
                partSum_ = partSum_ + v * v;
                ++index_;
                while (part_ < 4 && partEnds_[part_] <= index_) {
                    total_ = total_ + partSum_;
                    partSum_ = 0.0f;
                    ++part_;
                }
            } else {
                const std::size_t half = static_cast<std::size_t>(index_ - stride_) * 2;
                value_[half] = bytes[at];
                value_[half + 1] = bytes[at + 1];
                if (++index_ == stride_ + 2) {
                    finishRecord();
                }
            }
        }
    }

private:
    void finishRecord() {
        QmRecord& record = model_.records[record_];
        record.value = loadLe32(value_);
        record.invSquaredNorm = 1.0f / total_;
        ++record_;
        index_ = 0;
        part_ = 0;
        total_ = 0.0f;
        partSum_ = 0.0f;
        skipEmptyParts();
    }

    // Empty leading parts add nothing: their boundaries must not split the next part's sum.
    void skipEmptyParts() {
        while (part_ < 4 && partEnds_[part_] == 0) {
            ++part_;
        }
    }

    QmModel& model_;
    std::uint64_t stride_;
    std::uint64_t partEnds_[4] = {};
    std::size_t record_ = 0;
    std::uint64_t index_ = 0; // 16-bit unit within the current record
    int part_ = 0;
    float partSum_ = 0.0f;
    float total_ = 0.0f;
    unsigned char value_[4] = {};
};

bool loadQmFileUnguarded(const std::string& fileName, QmModel& model) {
    BinaryFile reader("VXQM0001");
    if (!reader.openRead(fileName)) {
        return false;
    }
    std::uint32_t recordCount = 0;
    std::uint32_t imageFlag = 0;
    if (!readQmHeader(reader, model, recordCount, imageFlag)) {
        return false;
    }
    const std::uint32_t lengths[4] = {model.vectors[0].rows, model.vectors[1].rows,
                                      model.vectors[2].rows, model.vectors[3].rows};
    const std::uint64_t stride = model.recordStride();
    const std::uint64_t recordBytes = 2 * stride + 4;
    // Checked before anything is sized for the records (the product may not fit 64 bits).
    if (recordCount != 0 && recordBytes > reader.bytesRemaining() / recordCount) {
        return fileCanHold(reader, reader.bytesRemaining() + 1);
    }
    // Sized once and exactly: the file has just been shown to hold every record. (On a 32-bit
    // system the coefficients of a large file may still not be addressable.)
    if (stride * recordCount > model.coefficients.max_size()) {
        throw std::bad_alloc();
    }
    std::vector<QmRecord>(recordCount).swap(model.records);
    std::vector<float>(static_cast<std::size_t>(stride * recordCount)).swap(model.coefficients);
    std::vector<unsigned char> scratch;
    RecordDecoder decoder(model, lengths);
    if (!readSlices(reader, scratch, recordBytes * recordCount, std::ref(decoder))) {
        return false;
    }

    model.imageBytes.clear();
    if (imageFlag == 1) {
        std::uint32_t imageLength = 0;
        if (!readU32(reader, imageLength) || !fileCanHold(reader, imageLength)) {
            return false;
        }
        model.imageBytes.resize(imageLength);
        if (!reader.read(model.imageBytes.data(), 1, imageLength)) {
            return false;
        }
    }
    return true;
}

} // namespace

std::size_t QmModel::recordStride() const {
    std::size_t stride = 0;
    for (const QmMatrix& vector : vectors) {
        stride += vector.rows;
    }
    return stride;
}

QmPartView QmModel::part(std::size_t record, int i, int j) const {
    const int k = 2 * i + j;
    std::size_t offset = record * recordStride();
    for (int before = 0; before < k; ++before) {
        offset += vectors[before].rows;
    }
    return QmPartView{1, vectors[k].rows,
                      std::span<const float>(coefficients.data() + offset, vectors[k].rows)};
}

bool readQmHeader(BinaryFile& reader, QmModel& model, std::uint32_t& recordCount,
                  std::uint32_t& imageFlag) {
    std::uint32_t lengths[4] = {};
    if (!readU32(reader, model.header0) || !readU32(reader, model.header1) ||
        !readU32(reader, lengths[0]) || !readU32(reader, lengths[1]) ||
        !readU32(reader, lengths[2]) || !readU32(reader, lengths[3]) ||
        !readU32(reader, recordCount) || !readU32(reader, imageFlag)) {
        return false;
    }
    std::uint64_t vectorBytes = 0;
    for (std::uint32_t length : lengths) {
        vectorBytes += std::uint64_t{length} * 2;
    }
    if (!fileCanHold(reader, vectorBytes)) {
        return false;
    }
    std::vector<unsigned char> scratch;
    for (int k = 0; k < 4; ++k) {
        QmMatrix& vector = model.vectors[k];
        vector.rows = lengths[k];
        vector.cols = 1;
        std::vector<float>(lengths[k], 0.0f).swap(vector.data);
        std::size_t next = 0;
        const bool read = readSlices(reader, scratch, std::uint64_t{lengths[k]} * 2,
                                     [&](const unsigned char* bytes, std::uint32_t size) {
                                         for (std::uint32_t at = 0; at < size; at += 2) {
                                             vector.data[next++ * vector.cols] = scaled(bytes + at);
                                         }
                                     });
        if (!read) {
            return false;
        }
    }
    return true;
}

bool loadQmFile(const std::string& fileName, QmModel& model) {
    try {
        return loadQmFileUnguarded(fileName, model);
    } catch (const std::exception&) {
        // Out of memory (or of address space on 32-bit systems): storage is only sized for
        // data the file holds, but that can still exceed what the machine has. A failed load,
        // not an ended process.
        setLastError(kLastErrorMemory, "Memory allocation error.");
        return false;
    }
}
