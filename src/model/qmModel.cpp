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

constexpr std::uint64_t kHeaderEnd = 8 + 8 * 4; // the signature and eight 32-bit values

// A reader with what the load is reading now, so that a failure can say where it happened.
struct ModelReader {
    explicit ModelReader(BinaryFile& reader) : file(reader) {}

    BinaryFile& file;
    std::string part = "the header"; // what the next bytes belong to, for the reason
    std::string reason;              // why the load failed

    // Fails the load (last error 1 with the file name) when the file cannot hold `bytes`
    // more, saying where it ends.
    bool canHold(std::uint64_t bytes) {
        if (bytes <= file.bytesRemaining()) {
            return true;
        }
        reason = "file ends at byte " + std::to_string(file.position() + file.bytesRemaining()) +
                 " inside " + part;
        setLastError(kLastErrorRead, file.fileName());
        file.close();
        return false;
    }

    bool read(void* destination, std::uint32_t elementSize, std::uint32_t count) {
        if (file.read(destination, elementSize, count)) {
            return true;
        }
        reason = file.failureReason();
        if (reason.starts_with("file ends")) {
            reason += " inside " + part;
        }
        return false;
    }

    bool readU32(std::uint32_t& value) {
        unsigned char bytes[4];
        if (!read(bytes, 4, 1)) {
            return false;
        }
        value = loadLe32(bytes);
        return true;
    }
};

// A stored fixed-point number times 0.001, computed in double and rounded to single precision.
float scaled(const unsigned char* bytes) {
    const auto stored = static_cast<std::int16_t>(loadLe16(bytes));
    return static_cast<float>(static_cast<double>(stored) * kFixedPointScale);
}

// Calls `consume(bytes, size)` for consecutive slices of the next `total` bytes of the file.
template <class Consume>
bool readSlices(ModelReader& reader, std::vector<unsigned char>& scratch, std::uint64_t total,
                Consume consume) {
    if (!reader.canHold(total)) {
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

// The header values and the four vectors.
bool readHeader(ModelReader& reader, QmModel& model, std::uint32_t& recordCount,
                std::uint32_t& imageFlag) {
    reader.part = "the " + std::to_string(kHeaderEnd) + "-byte header";
    std::uint32_t lengths[4] = {};
    if (!reader.readU32(model.header0) || !reader.readU32(model.header1) ||
        !reader.readU32(lengths[0]) || !reader.readU32(lengths[1]) || !reader.readU32(lengths[2]) ||
        !reader.readU32(lengths[3]) || !reader.readU32(recordCount) || !reader.readU32(imageFlag)) {
        return false;
    }
    // All four vectors must fit before any is sized; the reason names the one the file ends in.
    std::uint64_t vectorBytes = 0;
    for (int k = 0; k < 4; ++k) {
        vectorBytes += std::uint64_t{lengths[k]} * 2;
        reader.part = "coefficient vector " + std::to_string(k + 1) + " of 4";
        if (vectorBytes > reader.file.bytesRemaining()) {
            return reader.canHold(vectorBytes);
        }
    }
    std::vector<unsigned char> scratch;
    for (int k = 0; k < 4; ++k) {
        QmMatrix& vector = model.vectors[k];
        vector.rows = lengths[k];
        vector.cols = 1;
        std::vector<float>(lengths[k], 0.0f).swap(vector.data);
        std::size_t next = 0;
        reader.part = "coefficient vector " + std::to_string(k + 1) + " of 4";
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

bool loadUnguarded(ModelReader& reader, const std::string& fileName, QmModel& model) {
    if (!reader.file.openRead(fileName)) {
        reader.reason = reader.file.failureReason();
        return false;
    }
    std::uint32_t recordCount = 0;
    std::uint32_t imageFlag = 0;
    if (!readHeader(reader, model, recordCount, imageFlag)) {
        return false;
    }
    const std::uint32_t lengths[4] = {model.vectors[0].rows, model.vectors[1].rows,
                                      model.vectors[2].rows, model.vectors[3].rows};
    const std::uint64_t stride = model.recordStride();
    const std::uint64_t recordBytes = 2 * stride + 4;
    // Checked before anything is sized for the records (the product may not fit 64 bits).
    if (recordCount != 0 && recordBytes > reader.file.bytesRemaining() / recordCount) {
        reader.part = "record " + std::to_string(reader.file.bytesRemaining() / recordBytes + 1) +
                      " of " + std::to_string(recordCount);
        return reader.canHold(reader.file.bytesRemaining() + 1);
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
    reader.part =
        std::to_string(recordCount) + " records of " + std::to_string(recordBytes) + " bytes";
    if (!readSlices(reader, scratch, recordBytes * recordCount, std::ref(decoder))) {
        return false;
    }

    model.imageBytes.clear();
    if (imageFlag == 1) {
        reader.part = "the embedded image's 4-byte length";
        std::uint32_t imageLength = 0;
        if (!reader.readU32(imageLength)) {
            return false;
        }
        reader.part = "the embedded image of " + std::to_string(imageLength) + " bytes";
        if (!reader.canHold(imageLength)) {
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
    ModelReader context(reader);
    return readHeader(context, model, recordCount, imageFlag);
}

Outcome loadQmModel(const std::string& fileName, QmModel& model) {
    BinaryFile file("VXQM0001");
    ModelReader reader(file);
    try {
        if (loadUnguarded(reader, fileName, model)) {
            return {};
        }
        return Outcome::failure(reader.reason.empty() ? "read error" : reader.reason);
    } catch (const std::exception&) {
        // Out of memory (or of address space on 32-bit systems): storage is only sized for
        // data the file holds, but that can still exceed what the machine has. A failed load,
        // not an ended process.
        setLastError(kLastErrorMemory, lastErrorText(kLastErrorMemory));
        return Outcome::failure("Cannot allocate memory for " + reader.part);
    }
}

bool loadQmFile(const std::string& fileName, QmModel& model) {
    return loadQmModel(fileName, model).ok();
}
