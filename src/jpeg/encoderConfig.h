// The layout of a write, set up from the public fields of the record before its stream is
// written.
#pragma once

#include "jpeg/jpegEncoderState.h"

// Copies the public fields into the config, with the source's row stride and the sampling that
// a packed YCbCr source implies.
void setConfigFields(EncoderConfig& config, const JpegPublicFields& fields);

// Components, sampling factors, the default quantisation table numbers (unless the caller
// supplied quantisation tables), frame header and MCU geometry. 0, JPEG_ERR_NOT_SUPPORTED for a
// component count outside 1..kJpegMaxComponents or JPEG_ERR_SUBSAMPLING for an unknown
// sampling code.
int layOutComponents(EncoderConfig& config, bool callerQuantTables);
