// Run-length decoding of BI_RLE8 and BI_RLE4 bitmaps into an uncompressed pixel array.
#include "image/ownrle.h"

#include "image/bitmapInfoHeader.h"
#include "image/iplImage.h"
#include "image/rleWalker.h"

#include <cstring>

namespace {

constexpr const char* kFunction = "iplConvertFromDIB";
constexpr const char* kFile = "ownrle";

// Owns the output block until it is handed to the caller.
class OutputBlock {
public:
    explicit OutputBlock(std::int64_t size)
        : data_(static_cast<std::uint8_t*>(iplAlignedAlloc(size))) {}
    ~OutputBlock() { iplAlignedFree(data_); }
    OutputBlock(const OutputBlock&) = delete;
    OutputBlock& operator=(const OutputBlock&) = delete;

    std::uint8_t* get() const { return data_; }
    std::uint8_t* release() {
        std::uint8_t* data = data_;
        data_ = nullptr;
        return data;
    }

private:
    std::uint8_t* data_;
};

std::uint8_t* refuse(const rle::Refusal& refusal) {
    iplReportStatus(refusal.status, kFunction, refusal.message, kFile, refusal.line);
    return nullptr;
}

} // namespace

void reportRleRefusal(const rle::Refusal& refusal) {
    refuse(refusal);
}

std::int64_t rleDataOffset(const BITMAPINFOHEADER& dib, std::int64_t dibSize) {
    const std::int64_t tableEntries =
        dib.biClrUsed != 0 ? dib.biClrUsed
                           : (dib.biBitCount < 32 ? std::int64_t{1} << dib.biBitCount : dibSize);
    return std::int64_t{dib.biSize} + 4 * tableEntries;
}

std::uint8_t* decodeRleDib(const BITMAPINFOHEADER* dib, std::int64_t dibSize) {
    const rle::Form& form = dib->biCompression == BI_RLE8 ? rle::kRle8 : rle::kRle4;
    const std::int64_t width = dib->biWidth;
    const std::int64_t height = dib->biHeight;
    const std::int64_t rowBytes = rle::rowBytes(form, width);
    const std::int64_t size = width > 0 && height > 0 ? rowBytes * height : 0;

    OutputBlock block(size);
    if (block.get() == nullptr) {
        return refuse(form.noMemory);
    }
    std::memset(block.get(), 0, static_cast<std::size_t>(size));
    if (height < 0) {
        return refuse(form.position);
    }

    const std::int64_t dataStart = rleDataOffset(*dib, dibSize);
    if (dataStart > dibSize) {
        return refuse(form.pastEnd);
    }
    rle::MemoryCodes codes(reinterpret_cast<const std::uint8_t*>(dib) + dataStart,
                           dibSize - dataStart);
    rle::Walker walker(form, codes, width, height);
    for (;;) {
        rle::Event event;
        if (walker.next(event) != rle::Step::Ok) {
            return refuse(walker.refusal());
        }
        if (event.code == rle::Code::EndOfBitmap) {
            return block.release();
        }
        rle::applyToRow(form, event, block.get() + event.y * rowBytes);
    }
}
