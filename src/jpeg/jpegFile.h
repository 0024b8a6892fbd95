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

// Starts writing the file's data to the storage device, without waiting for it.
void jpegFileStartWriteback(JpegFileHandle file);

// Closes the file; false when the close fails.
bool jpegFileClose(JpegFileHandle file);

// True when `path` itself (not through a link) names the open `file` and that is a regular
// file: one the encoder may remove after a failed write. Devices and pipes are never removed.
bool jpegFileNamedBy(JpegFileHandle file, const char* path);
// Removes the file at `path`; false when that fails.
bool jpegFileRemove(const char* path);
