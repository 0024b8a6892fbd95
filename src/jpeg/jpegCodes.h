// Codes of the encoder's fields: colours, sampling and the request codes of jpegWrite, with
// the request classes the encoder acts on. Depends on nothing.
#pragma once

#include <cstdint>

// Colour codes (inputColor, outputColor).
constexpr std::int32_t JPEG_COLOR_RGB = 1;
constexpr std::int32_t JPEG_COLOR_BGR = 2;
constexpr std::int32_t JPEG_COLOR_YCBCR = 3;
constexpr std::int32_t JPEG_COLOR_GRAY = 4;
constexpr std::int32_t JPEG_COLOR_FOUR_CHANNEL = 5;
constexpr std::int32_t JPEG_COLOR_YCC_FOUR_CHANNEL = 6;
constexpr std::int32_t JPEG_COLOR_OTHER = 255;

// Sampling codes (outputSampling).
constexpr std::int32_t JPEG_SAMPLING_NONE = 0;
constexpr std::int32_t JPEG_SAMPLING_H2V2 = 1;
constexpr std::int32_t JPEG_SAMPLING_H2V1 = 2;
constexpr std::int32_t JPEG_SAMPLING_H2V2_ALPHA = 3;
constexpr std::int32_t JPEG_SAMPLING_H2V1_ALPHA = 4;

// Request codes of jpegWrite. Even codes write to outputFileName, odd ones into outputBuffer.
// Codes 0 to 7 and 14 to 21 belong to the decoder; -1 means no request.
constexpr std::int32_t JPEG_NO_REQUEST = -1;
constexpr std::int32_t JPEG_FIRST_REQUEST = 0;
constexpr std::int32_t JPEG_WRITE_FILE_IMAGE = 8;
constexpr std::int32_t JPEG_WRITE_BUFFER_IMAGE = 9;
constexpr std::int32_t JPEG_WRITE_FILE_TABLES = 10;
constexpr std::int32_t JPEG_WRITE_BUFFER_TABLES = 11;
constexpr std::int32_t JPEG_WRITE_FILE_SCAN = 12;
constexpr std::int32_t JPEG_WRITE_BUFFER_SCAN = 13;
constexpr std::int32_t JPEG_LAST_REQUEST = 21;

// The encoder's own requests.
constexpr bool isWriteRequest(int request) {
    return request >= JPEG_WRITE_FILE_IMAGE && request <= JPEG_WRITE_BUFFER_SCAN;
}
// Requests that read source pixels: a whole image or its scan alone.
constexpr bool isImageRequest(int request) {
    return request == JPEG_WRITE_FILE_IMAGE || request == JPEG_WRITE_BUFFER_IMAGE ||
           request == JPEG_WRITE_FILE_SCAN || request == JPEG_WRITE_BUFFER_SCAN;
}
// Requests that write the table segments: a whole image or the tables alone.
constexpr bool writesTableSegments(int request) {
    return request >= JPEG_WRITE_FILE_IMAGE && request <= JPEG_WRITE_BUFFER_TABLES;
}
constexpr bool isTablesRequest(int request) {
    return request == JPEG_WRITE_FILE_TABLES || request == JPEG_WRITE_BUFFER_TABLES;
}
constexpr bool isFileRequest(int request) {
    return isWriteRequest(request) && request % 2 == 0;
}
constexpr bool isBufferRequest(int request) {
    return isWriteRequest(request) && request % 2 == 1;
}
