// The last-error record: the first load failure of a run, as a code and a short text.
#pragma once

#include <cstdint>
#include <string_view>

struct LastErrorRecord {
    std::int32_t code = 0;  // 0: no error recorded
    char message[256] = {}; // at most 255 characters and a terminating zero
};

// Records the error unless one is recorded already (the first error of a run wins).
// The message is cut to its first 255 characters.
void setLastError(std::int32_t code, std::string_view message);

// Empties the record (code 0, empty message).
void clearLastError();

// The process-wide record.
const LastErrorRecord& lastError();
