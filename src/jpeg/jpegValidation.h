// Checks of the public fields of a properties record before a write.
#pragma once

struct JPEG_PROPERTIES;

// Requests that read source pixels (8, 9, 12, 13), write to a file (8, 10, 12) or into the
// caller's memory (9, 11, 13).
bool isImageRequest(int request);
bool isFileRequest(int request);
bool isBufferRequest(int request);

// 0 when the record may be written with the request; else the status of the first failed
// check (-8 or -3).
int validateProperties(const JPEG_PROPERTIES& properties, int request);
