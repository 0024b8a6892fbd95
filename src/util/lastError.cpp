#include "util/lastError.h"

#include <algorithm>
#include <cstring>

namespace {
// Zero-initialised before main runs: code 0, empty message.
LastErrorRecord record;
} // namespace

const char* lastErrorText(int code) {
    switch (code) {
    case kLastErrorRead:
        return "File read error.";
    case kLastErrorSignature:
        return "Image file is not a DIB, or cannot be read.";
    case kLastErrorMemory:
        return "Memory allocation error.";
    case kLastErrorConversion:
        return "Unable to convert DIB image to IPL image.";
    case kLastErrorPastEnd:
        return "Bitmap data extends past the end of the file.";
    case kLastErrorDimensions:
        return "Bitmap dimensions are not supported.";
    default:
        return "";
    }
}

void setLastError(std::int32_t code, std::string_view message) {
    if (record.code != 0) {
        return;
    }
    record.code = code;
    const std::size_t length = std::min<std::size_t>(message.size(), sizeof record.message - 1);
    std::memcpy(record.message, message.data(), length);
    record.message[length] = '\0';
}

void clearLastError() {
    record.code = 0;
    record.message[0] = '\0';
}

const LastErrorRecord& lastError() {
    return record;
}
