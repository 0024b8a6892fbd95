// The last-error record: the first load failure of a run, as a code and a short text.
#pragma once

#include <cstdint>
#include <string_view>

// The codes of the record, shared by every loader.
enum LastErrorCode : std::int32_t {
    kLastErrorNone = 0,
    kLastErrorRead = 1,        // a read failed or the file ended early
    kLastErrorSignature = 2,   // the file is not of the expected kind
    kLastErrorOpen = 4,        // the file cannot be opened (or has an unknown format digit)
    kLastErrorCreate = 5,      // the file cannot be created
    kLastErrorWrite = 6,       // a write failed
    kLastErrorMemory = 10,     // memory could not be obtained
    kLastErrorConversion = 11, // the bitmap could not be converted into an image
    kLastErrorPastEnd = 12,    // the bitmap's data extends past the end of the file
    kLastErrorDimensions = 13, // the bitmap's width or height cannot be held
};

struct LastErrorRecord {
    std::int32_t code = kLastErrorNone;
    char message[256] = {}; // at most 255 characters and a terminating zero
};

// The record's text for a failure code of the bitmap and model loaders; empty for the codes
// whose text is the file's name (kLastErrorOpen, kLastErrorCreate) and for unknown codes.
const char* lastErrorText(int code);

// Records the error unless one is recorded already (the first error of a run wins).
// The message is cut to its first 255 characters.
void setLastError(std::int32_t code, std::string_view message);

// Empties the record (code 0, empty message).
void clearLastError();

// The process-wide record.
const LastErrorRecord& lastError();
