// The encoder's constant version record.
#include "jpeg/jpegEncoder.h"

namespace {

constexpr JpegVersion kVersion = {
    1, 51, 12, "qmjpeg encoder", "1.51.12", "[1.51.12.44]", "May 30 2001", "C++20",
};

} // namespace

const JpegVersion* jpegVersionInfo() {
    return &kVersion;
}
