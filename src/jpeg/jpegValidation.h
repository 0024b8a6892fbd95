// Checks of the public fields of a properties record before a write.
#pragma once

struct JPEG_PROPERTIES;

// 0 when the record may be written with the request; else the status of the first failed
// check (JPEG_ERR_PROPERTIES or JPEG_ERR_SUBSAMPLING).
int validateProperties(const JPEG_PROPERTIES& properties, int request);
