// Typed image handles: a small handle per pixel kind over a shared, reference-counted body,
// copied on write.
#pragma once

#include "image/dibLayout.h"
#include "image/iplImage.h"
#include "vx2Image/qimImgBase.h"

#include <cstdint>

// File identifier used in the handles' assertion and error reports.
inline constexpr const char* kQimImgFile = "src/vx2Image/QimImg";

// The header values that describe one pixel kind.
struct QimPixelKind {
    std::int32_t nChannels;
    std::int32_t alphaChannel;
    std::int32_t depth;
    char colorModel[4];
    char channelSeq[4];
};

// Four bytes per pixel in memory order red, green, blue, alpha.
struct Rgba8 {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
    std::uint8_t alpha;
    static constexpr QimPixelKind kind{
        4, 4, IPL_DEPTH_8U, {'R', 'G', 'B', 'A'}, {'R', 'G', 'B', 'A'}};
};

// One grey byte per pixel.
struct Gray8 {
    std::uint8_t gray;
    static constexpr QimPixelKind kind{1, 0, IPL_DEPTH_8U, {'G', 'R', 'A', 'Y'}, {'G', 0, 0, 0}};
};

// Largest bitmap width and height a handle takes.
inline constexpr std::int64_t kQimMaxDimension = 65535;
// Rows of every image start on this many bytes.
inline constexpr int kQimRowAlign = 8;

// Row size in bytes of an image of `kind` that is `width` pixels wide (rows aligned to 8).
std::int64_t qimWidthStep(const QimPixelKind& kind, std::int64_t width);

// True when an image of `kind` and this size can be held: both sizes from 1 to
// kQimMaxDimension and the whole pixel area addressable by the header's 32-bit size field.
bool qimImageSizeSupported(const QimPixelKind& kind, std::int64_t width, std::int64_t height);

// Untyped handle: one pointer to a shared body. Copies share the body; the last handle frees
// it. A handle can be without a body when memory for one could not be obtained; it then reads
// as an empty image (0 x 0, no pixels) and never touches memory it does not have.
class QimImg {
public:
    QimImg();
    QimImg(const QimImg& other);
    QimImg& operator=(const QimImg& other);
    virtual ~QimImg();

    // Loads the image from a device-independent bitmap block (the info header, colour table
    // and pixel rows). The untyped handle cannot hold pixels.
    virtual bool fromDib(const DibBlock& dib);
    // The same for a block of `dibSize` readable bytes whose pixels follow its table.
    bool fromDib(const BITMAPINFOHEADER* dib, std::int64_t dibSize);

    // Exports the image as a newly allocated bottom-up device-independent bitmap (block from
    // iplAlignedAlloc, freed by the caller with iplAlignedFree); null when there are no pixels.
    virtual BITMAPINFOHEADER* toDib() const;

    // Gives this handle a body of its own (copying the pixels when the body is shared) and
    // returns its first pixel row; null when the image has no pixels or no body.
    char* unshare();

    // Prepares the body for a new size: a shared body is left to its other handles and
    // replaced by a pixel-less copy of its header; a private body frees its pixels.
    void resetBody();

    bool hasBody() const { return body_ != nullptr; }
    bool hasPixels() const { return body_ != nullptr && body_->hasPixels(); }
    // Handles sharing this body (0 without a body).
    int useCount() const { return body_ != nullptr ? body_->refCount : 0; }
    // The header, or null without a body.
    const ImageHeader* header() const { return body_ != nullptr ? &body_->header : nullptr; }

    int width() const { return body_ != nullptr ? body_->header.width : 0; }
    int height() const { return body_ != nullptr ? body_->header.height : 0; }
    int widthStep() const { return body_ != nullptr ? body_->header.widthStep : 0; }
    char* imageData() const { return body_ != nullptr ? body_->header.imageData : nullptr; }
    int nChannels() const { return body_ != nullptr ? body_->header.nChannels : 0; }
    int depth() const { return body_ != nullptr ? body_->header.depth : 0; }
    int align() const { return body_ != nullptr ? body_->header.align : 0; }
    int imageSize() const { return body_ != nullptr ? body_->header.imageSize : 0; }

protected:
    // resetBody, then the header of `kind` at the given size (no pixels yet); then, when
    // `allocate` is set, the pixels. A handle that cannot get a body reports the failure.
    void createAs(const QimPixelKind& kind, int width, int height, bool allocate, bool fill,
                  double fillValue);
    bool fromDibAs(const QimPixelKind& kind, const DibBlock& dib);
    BITMAPINFOHEADER* toDibAs(const QimPixelKind& kind) const;

private:
    // resetBody and make sure a body exists; false when none could be obtained.
    bool prepareBody();
    void setHeader(const QimPixelKind& kind, int width, int height);
    void allocatePixels(bool fill, double fillValue);
    void release();

    QimImgBase* body_ = nullptr;
};

template <class Kind> class QimImgT : public QimImg {
public:
    using Pixel = Kind;

    QimImgT() = default;

    // Sets the kind's header at width x height; with `allocate`, gives it pixels (filled with
    // `fillValue` when `fill` is set, undefined otherwise). Sizes must be above 0 to allocate.
    void create(int width, int height, bool allocate, bool fill, double fillValue) {
        createAs(Kind::kind, width, height, allocate, fill, fillValue);
    }

    // Loads the bitmap into this image (an image of |biHeight| rows, top row first). False
    // when the bitmap's size cannot be held, when no body could be obtained, or when the
    // image library leaves a failure status or no pixels.
    using QimImg::fromDib;
    bool fromDib(const DibBlock& dib) override { return fromDibAs(Kind::kind, dib); }

    BITMAPINFOHEADER* toDib() const override { return toDibAs(Kind::kind); }
};
