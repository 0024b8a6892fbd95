#include "jpeg/jpegRowSource.h"

#include "jpeg/jpegStatus.h"
#include "jpeg/outputSink.h"

int jpegWriteRows(JPEG_PROPERTIES* properties, int requestCode, JpegRowSource* source) {
    if (properties == nullptr || source == nullptr || properties->inputHeight < 0) {
        return JPEG_ERR_PROPERTIES;
    }
    properties->state.coder.rowSource = source;
    const int result = jpegWrite(properties, requestCode);
    properties->state.coder.rowSource = nullptr;
    return result;
}

int jpegWriteRowsInto(JPEG_PROPERTIES* properties, int requestCode, JpegRowSource* source,
                      ByteSink& sink) {
    if (properties == nullptr || properties->state.outputFile != kNoJpegFile ||
        properties->state.coder.stream.sink != nullptr) {
        return JPEG_ERR_PROPERTIES;
    }
    // A file request finds its sink in place and opens no file.
    properties->state.coder.stream.sink = &sink;
    const int result = source != nullptr ? jpegWriteRows(properties, requestCode, source)
                                         : jpegWrite(properties, requestCode);
    properties->state.coder.stream.sink = nullptr;
    return result;
}

int jpegWriteRowsTo(JPEG_PROPERTIES* properties, int requestCode, JpegRowSource* source,
                    JpegFileHandle file, bool startWriteback) {
    if (file == kNoJpegFile) {
        return JPEG_ERR_PROPERTIES;
    }
    FileSink sink(file, startWriteback);
    int result = jpegWriteRowsInto(properties, requestCode, source, sink);
    if (const int finished = sink.finish(); finished != JPEG_SUCCESS && result >= 0) {
        result = finished;
    }
    return jpegFileClose(file) ? result : JPEG_ERR_CLOSE_FILE;
}
