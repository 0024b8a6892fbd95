// The entries of the fuzz targets: each runs one input through a part of the product and
// checks what must hold for any input. The fuzz targets call them, and the tests replay the
// kept inputs through them. Each returns null when every check held, otherwise what went
// wrong.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzz_entry {

// The bitmap path: BMP file checks, DIB conversion, run-length decoding (whole and band by
// band, which must agree), shading ratio.
const char* runBmpLoad(const std::uint8_t* data, std::size_t size);
// The whole -i run on two bitmaps from the input: loader and band reader agreeing, and the
// same JPEG bytes from the whole images and from the band source with one and several lanes.
const char* runImageRun(const std::uint8_t* data, std::size_t size);
// The JPEG encoder with both routine sets on a properties record built from the input.
const char* runJpegEncode(const std::uint8_t* data, std::size_t size);
// The QM model loader on the input as a model file.
const char* runQmModel(const std::uint8_t* data, std::size_t size);

} // namespace fuzz_entry
