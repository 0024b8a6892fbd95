// Status codes of the encoder: returned by jpegWrite and the other record operations, and by
// every internal step (bit writers, tables, output) that can fail. Depends on nothing.
#pragma once

constexpr int JPEG_ROI_SUCCESS = 2;
constexpr int JPEG_INTERRUPT_SUCCESS = 1;
constexpr int JPEG_SUCCESS = 0;
constexpr int JPEG_ERR_EXCEPTION = -1;
constexpr int JPEG_ERR_INVALID_ENCODER = -2;
constexpr int JPEG_ERR_SUBSAMPLING = -3;
constexpr int JPEG_ERR_BYTES_PER_PIXEL = -4;
constexpr int JPEG_ERR_MEMORY = -5;
constexpr int JPEG_ERR_BAD_HUFFMAN_TABLE = -6;
constexpr int JPEG_ERR_BAD_QUANT_TABLE = -7;
constexpr int JPEG_ERR_PROPERTIES = -8;
constexpr int JPEG_ERR_CLOSE_FILE = -9;
constexpr int JPEG_ERR_FILE_NAME = -10;
constexpr int JPEG_ERR_EOF = -11;
constexpr int JPEG_ERR_NOT_SUPPORTED = -12;
constexpr int JPEG_ERR_COMPONENTS = -14;
constexpr int JPEG_ERR_NO_HUFFMAN_TABLE = -17;
constexpr int JPEG_ERR_NO_QUANT_TABLE = -18;
constexpr int JPEG_ERR_FILE = -23;
constexpr int JPEG_ERR_INTERNAL = -24;
constexpr int JPEG_ERR_BAD_RST_MARKER = -25;
constexpr int JPEG_ERR_BUFFER_TOO_SMALL = -28;
constexpr int JPEG_ERR_COMMENT = -30;

// The first failure of a sequence of steps. Later failures do not replace it, and the steps
// that follow can ask whether the sequence has failed and skip their work.
class FirstFailure {
public:
    void record(int status) {
        if (status_ == JPEG_SUCCESS) {
            status_ = status;
        }
    }
    bool ok() const { return status_ == JPEG_SUCCESS; }
    int status() const { return status_; }

private:
    int status_ = JPEG_SUCCESS;
};
