// The encoder's output-file layer: create-or-truncate, read and write access, shared for
// reading by others.
#pragma once

#include <cstdint>

using JpegFileHandle = int;
constexpr JpegFileHandle kNoJpegFile = -1;

// Opens `path` for reading and writing, creating it or cutting it to length 0.
// kNoJpegFile on failure.
JpegFileHandle jpegFileOpen(const char* path);

// Writes `count` bytes; false on failure. `written` receives the number of bytes written.
bool jpegFileWrite(JpegFileHandle file, const std::uint8_t* bytes, std::uint32_t count,
                   std::uint32_t* written);

// Closes the file; false when the close fails.
bool jpegFileClose(JpegFileHandle file);
