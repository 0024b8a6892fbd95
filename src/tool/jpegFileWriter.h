// The tool's bridge to the JPEG encoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

template <class Kind> class QimImgT;
struct Rgba8;
class JpegRowSource;

// Writes the image (4 bytes per pixel, red, green, blue, ignored) as a baseline JFIF file with
// 4:4:4 YCbCr at the given quality. True exactly when the encoder's write returned 0.
bool writeJpegFile(const std::string& fileName, const QimImgT<Rgba8>& image, int quality);

// The same for an image of width x height pixels whose rows (`rowStep` bytes apart, same
// layout) come from `rows` one MCU row at a time; `anyRow` is any pixel row of that layout.
// Writes the bytes writeJpegFile writes for the same pixels.
bool writeJpegRows(const std::string& fileName, int width, int height, std::int64_t rowStep,
                   const std::uint8_t* anyRow, int quality, JpegRowSource& rows);

// writeJpegRows into the open file `file` (which it closes), at its current position; `fileName`
// names it. `syncedAfter`: the caller syncs the file after the write, so its writeback is
// started while it is written. The encoder's status: 0 on success.
int writeJpegRowsTo(int file, bool syncedAfter, const std::string& fileName, int width, int height,
                    std::int64_t rowStep, const std::uint8_t* anyRow, int quality,
                    JpegRowSource& rows);

// The two writes above into memory: `bytes` receives the stream the file would hold. The
// encoder's status, 0 on success (`bytes` is then empty on failure).
int encodeJpegImage(std::vector<std::uint8_t>& bytes, const QimImgT<Rgba8>& image, int quality);
int encodeJpegRows(std::vector<std::uint8_t>& bytes, int width, int height, std::int64_t rowStep,
                   const std::uint8_t* anyRow, int quality, JpegRowSource& rows);
