#include "vx2Image/qimImgBase.h"
#include "util/reportLines.h"

#include "util/diagnostics.h"

#include <cstring>
#include <new>

namespace {

constexpr const auto& kLine = report_lines::kQimImgBase;

void clearBorrowedParts(ImageHeader& header) {
    header.imageData = nullptr;
    header.dataBlock = nullptr;
    header.roi = nullptr;
    header.mask = nullptr;
    header.userData = nullptr;
    header.tileInfo = nullptr;
}

// A body gives up its pixels only once nothing borrowed hangs on its header.
void assertNoBorrowedParts(const ImageHeader& header, const report_lines::BorrowedPartsLines& at) {
    VX2_ASSERT(header.roi == nullptr, kQimImgBaseFile, at.roi);
    VX2_ASSERT(header.mask == nullptr, kQimImgBaseFile, at.mask);
    VX2_ASSERT(header.userData == nullptr, kQimImgBaseFile, at.userData);
    VX2_ASSERT(header.tileInfo == nullptr, kQimImgBaseFile, at.tileInfo);
}

} // namespace

QimImgBase::QimImgBase() {
    std::memset(&header, 0, sizeof header); // every field and the padding between them
}

QimImgBase::QimImgBase(const QimImgBase& other, bool copyPixels) : header(other.header) {
    clearBorrowedParts(header);
    if (!copyPixels || !other.hasPixels()) {
        return;
    }
    if ((header.depth & IPL_DEPTH_MASK) == 32 && (header.depth & IPL_DEPTH_SIGN) == 0) {
        iplAllocateImageFP(&header, 0, 0.0f);
    } else {
        iplAllocateImage(&header, 0, 0);
    }
    if (header.imageData == nullptr) {
        return; // allocation refused in a returning error mode: the copy has no pixels
    }
    // Both blocks come from the same header fields, so their geometry is the same; every byte
    // of every row is carried over, the alpha channel included.
    std::memcpy(header.imageData, other.header.imageData,
                static_cast<std::size_t>(header.imageSize));
}

QimImgBase::~QimImgBase() {
    assertNoBorrowedParts(header, kLine.destroyed);
    if (header.dataBlock != nullptr) {
        iplFreeImageData(&header);
    }
}

void QimImgBase::releasePixels() {
    assertNoBorrowedParts(header, kLine.released);
    if (header.dataBlock != nullptr) {
        iplFreeImageData(&header);
    }
}

QimImgBase* newQimImgBody() {
    return new (std::nothrow) QimImgBase();
}

QimImgBase* newQimImgBody(const QimImgBase& other, bool copyPixels) {
    return new (std::nothrow) QimImgBase(other, copyPixels);
}
