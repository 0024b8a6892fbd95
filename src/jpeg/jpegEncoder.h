// Baseline sequential JPEG encoder: the caller-owned properties record and the operations on
// it. The record's public fields come first, in the order of JpegPublicFields, then a reserved
// word, then the working state.
//
// Use: jpegInitialize, set the public fields, jpegWrite (any number of times), jpegRelease.
// The record must stay at one address from jpegInitialize to jpegRelease.
#pragma once

#include "jpeg/jpegCodes.h"
#include "jpeg/jpegEncoderState.h"
#include "jpeg/jpegStatus.h"

#include <cstdint>

struct JPEG_PROPERTIES : JpegPublicFields {
    std::int32_t reserved; // neither read nor written by the encoder
    JpegEncoderState state;
};

struct JpegVersion {
    int major;
    int minor;
    int build;
    const char* name;
    const char* version;
    const char* fullVersion;
    const char* buildDate;
    const char* buildTool;
};

// 0 (JPEG_ERR_PROPERTIES for a null record). Overwrites every public field.
int jpegInitialize(JPEG_PROPERTIES* properties);
// Writes what the request code asks for; a status code.
int jpegWrite(JPEG_PROPERTIES* properties, int requestCode);
// Closes an open output file and frees the working memory: JPEG_SUCCESS, JPEG_ERR_CLOSE_FILE
// or JPEG_ERR_PROPERTIES.
int jpegRelease(JPEG_PROPERTIES* properties);
// The text of a status code; "Unknown error code" for codes without one.
const char* jpegStatusText(int status);
const JpegVersion* jpegVersionInfo();
