#include "jpeg/jpegRowSource.h"

int jpegWriteRows(JPEG_PROPERTIES* properties, int requestCode, JpegRowSource* source) {
    if (properties == nullptr || source == nullptr || properties->inputHeight < 0) {
        return JPEG_ERR_PROPERTIES;
    }
    properties->state.rowSource = source;
    const int result = jpegWrite(properties, requestCode);
    properties->state.rowSource = nullptr;
    return result;
}

int jpegWriteRowsTo(JPEG_PROPERTIES* properties, int requestCode, JpegRowSource* source,
                    JpegFileHandle file) {
    if (properties == nullptr || file == kNoJpegFile ||
        properties->state.stream.file != kNoJpegFile) {
        jpegFileClose(file);
        return JPEG_ERR_PROPERTIES;
    }
    // An image request finds its file open and writes into it; jpegWrite closes it.
    properties->state.stream.file = file;
    const int result = jpegWriteRows(properties, requestCode, source);
    if (properties->state.stream.file != kNoJpegFile &&
        properties->state.suspendedScan == nullptr) {
        jpegFileClose(properties->state.stream.file);
        properties->state.stream.file = kNoJpegFile;
    }
    return result;
}
