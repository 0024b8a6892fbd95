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
