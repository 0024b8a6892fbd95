#include "util/lastError.h"

#include <algorithm>
#include <cstring>

namespace {
// Zero-initialised before main runs: code 0, empty message.
LastErrorRecord record;
} // namespace

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
