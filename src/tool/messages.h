// The tool's messages on standard output, exactly as its users and their scripts read them.
#pragma once

namespace messages {

inline constexpr const char* kUsageArguments =
    " <-f <qmFile>.qm | -i <srcImg>.bmp <finalImg>.bmp> <output>.jpg\n"; // after the program name
inline constexpr const char* kLoadModel = "Unable to load QM file.\n";
inline constexpr const char* kLoadSource = "Unable to load src image\n";
inline constexpr const char* kLoadFinal = "Unable to load final image\n";
inline constexpr const char* kSizesDiffer = "Image dimensions don't match\n";
inline constexpr const char* kZeroSize = "Image dimensions cannot be zero\n";
inline constexpr const char* kNoMemory = "Memory allocation error.\n";
inline constexpr const char* kCreateOutput = "Unable to create output file.\n";
inline constexpr const char* kUnexpected = "Unexpected error\n";

} // namespace messages
