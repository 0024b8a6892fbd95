// Run-length decoding of BI_RLE8 and BI_RLE4 bitmaps into an uncompressed pixel array.
#include "image/ownrle.h"

#include "image/dibLayout.h"
#include "image/iplImage.h"
#include "image/rleDecoder.h"

#include <cstring>

namespace {

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

// Every row of the block, one after the other.
struct BlockRows {
    std::uint8_t* rows;
    std::int64_t rowBytes;
    std::uint8_t* row(std::int64_t y) const { return rows + y * rowBytes; }
    void entered(const rle::Position&) const {}
};

} // namespace

std::uint8_t* decodeRleDib(const BITMAPINFOHEADER* dib, std::int64_t dibSize) {
    DibBlock block;
    block.data = reinterpret_cast<const std::uint8_t*>(dib);
    block.size = dibSize;
    DibLayout layout;
    describeDib(block, layout);
    return decodeRleRows(block, layout);
}

const rle::Form& rleForm(const DibLayout& layout) {
    return layout.compression == BI_RLE8 ? rle::kRle8 : rle::kRle4;
}

ImageRefusal rleDataRefusal(const DibBlock& dib, const DibLayout& layout) {
    if (layout.pixelOffset > dib.size || layout.pixelOffset < layout.infoSize) {
        return rle::refusalOf(rleForm(layout).pastEnd, rle::kNoEnd);
    }
    return {};
}

std::uint8_t* decodeRleRows(const DibBlock& dib, const DibLayout& layout) {
    const rle::Form& form = rleForm(layout);
    const std::int64_t width = layout.width;
    const std::int64_t height = layout.bottomUp ? layout.height : -layout.height;
    const std::int64_t rowBytes = rowStep(width * (form.fourBit ? 4 : 8), 4);
    const std::int64_t size = width > 0 && height > 0 ? rowBytes * height : 0;

    OutputBlock block(size);
    if (block.get() == nullptr) {
        reportImageRefusal(
            rle::refusalOf(form.noMemory, "not enough memory to decode the run-length data"));
        return nullptr;
    }
    std::memset(block.get(), 0, static_cast<std::size_t>(size));
    if (height < 0) {
        reportImageRefusal(
            rle::refusalOf(form.position, "run-length bitmaps stored top-down are not supported"));
        return nullptr;
    }
    if (const ImageRefusal refusal = rleDataRefusal(dib, layout); refusal.refused()) {
        reportImageRefusal(refusal);
        return nullptr;
    }
    rle::MemoryCodes codes(dib.data + layout.pixelOffset, dib.size - layout.pixelOffset);
    BlockRows rows{block.get(), rowBytes};
    rle::Decoder decoder(form, codes, rows, rowBytes, height);
    if (!decoder.decode()) {
        reportImageRefusal(decoder.refusal());
        return nullptr;
    }
    return block.release();
}
