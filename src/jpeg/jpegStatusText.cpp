// Texts of the encoder's status codes.
#include "jpeg/jpegEncoder.h"

namespace {

// Indexed by 2 - code, for codes 2 down to -30.
constexpr const char* kStatusTexts[] = {
    "ROI Success",
    "Interrupt Success",
    "Success",
    "Exception detected",
    "Invalid Encoder",
    "Unsupported subsampling",
    "Unsupported bytes per pixel",
    "Memory error",
    "Bad Huffman table",
    "Bad Quantization table",
    "Invalid JPEG_PROPERTIES",
    "Error close file",
    "Invalid file name",
    "Error EOF",
    "Not supported",
    "Not JPEG",
    "Error COMP",
    "Error SOF",
    "Error DNL",
    "No Huffman table",
    "No Quantization table",
    "No frame",
    "Multiply frame",
    "Data error",
    "No image",
    "File error",
    "Internal error",
    "Bad RST marker",
    "Thumbnail too small",
    "Thumbnail has wrong color",
    "Output buffer too small",
    "Unsupported frame was found",
    "Error access to jpeg_comment buffer",
};

constexpr int kLowestListedCode =
    2 - static_cast<int>(sizeof(kStatusTexts) / sizeof(*kStatusTexts)) + 1;

} // namespace

const char* jpegStatusText(int status) {
    if (status == -99) {
        return "Reserved";
    }
    if (status > 2 || status < kLowestListedCode) {
        return "Unknown error code";
    }
    return kStatusTexts[2 - status];
}
