// The shared, reference-counted body behind every image handle: one image header held by
// value and the pixel block it points to.
#pragma once

#include "image/iplImage.h"

#include <cstdint>

// File identifier used in this body's assertion reports.
inline constexpr const char* kQimImgBaseFile = "src/vx2Image/qimImgBase";

class QimImgBase {
public:
    // A new body: count 1, every header field zero or null, no pixels.
    QimImgBase();

    // A copy of `other`'s header with count 1 and no pixels, region, mask, user data or tiles.
    // With `copyPixels` and when `other` has pixels, the copy gets its own pixel block of the
    // same geometry holding every byte of `other`'s pixels (alpha bytes included).
    QimImgBase(const QimImgBase& other, bool copyPixels);

    QimImgBase(const QimImgBase&) = delete;
    QimImgBase& operator=(const QimImgBase&) = delete;

    // Asserts that region, mask, user data and tiles are unset, then frees the pixels.
    virtual ~QimImgBase();

    // Frees the pixels of a body that only one handle uses, so that it can take a new size.
    void releasePixels();

    bool hasPixels() const { return header.imageData != nullptr; }

    std::int32_t refCount = 1;
    ImageHeader header{};
};

// Body allocation that never throws: null when memory cannot be obtained.
QimImgBase* newQimImgBody();
QimImgBase* newQimImgBody(const QimImgBase& other, bool copyPixels);
