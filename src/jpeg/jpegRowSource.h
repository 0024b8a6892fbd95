// Source rows delivered band by band during an image write, and the writes that read them:
// the tool's road into the encoder. jpegWrite on a whole buffer stays the library interface.
#pragma once

#include "jpeg/jpegEncoder.h"

#include <cstdint>

// Rows of one MCU row of the layouts a row source serves (no vertical subsampling): the rows
// each call asks for.
inline constexpr int kRowSourceMcuRows = 8;
// Lanes a source may have; a source that gives more is read on this many.
inline constexpr int kMaxRowSourceLanes = 64;
// The size of a part of a scan coded in parts on few lanes, in pixels (whole MCU rows): enough
// to make the per-part work small beside the coding, few enough that the coded parts held at
// once stay small.
inline constexpr std::int64_t kDefaultPartPixels = std::int64_t{1} << 18;
// The least size parts get smaller to when many lanes share the picture, in pixels (or the
// source's part size when that is smaller): the per-part work (the first MCU coded apart, the
// hand-over and the join) stays small beside the coding.
inline constexpr std::int64_t kLeastPartPixels = std::int64_t{1} << 15;

class JpegRowSource {
public:
    // Makes image rows [firstRow, firstRow + count) readable (one MCU row) for lane `lane`
    // and returns the first of them; the others follow at the record's row stride (row
    // padding included). The rows stay readable until the lane's next call. Null when they
    // cannot be produced: the write then ends with -23. With one lane, bands are asked for in
    // order, top first; with several, each lane asks from its own thread, in any order.
    virtual const std::uint8_t* rows(int lane, std::int32_t firstRow, std::int32_t count) = 0;

    // How many lanes may ask for rows at once: the scan is then coded in parts on as many
    // threads (at most kMaxRowSourceLanes).
    virtual int lanes() const { return 1; }

    // The size of a part, in pixels, when the scan is coded in parts on few lanes; each part is
    // at least one MCU row. With more lanes, parts get smaller (down to kLeastPartPixels, or
    // this size when it is smaller), so that every lane gets several. The bytes written do not
    // depend on it.
    virtual std::int64_t partPixels() const { return kDefaultPartPixels; }

protected:
    ~JpegRowSource() = default;
};

// jpegWrite for an image request whose pixels come from `source`, one MCU row at a time, in
// the layout the record's input fields describe (positive inputHeight: top row first).
// inputPixels must be non-null and is not read. The bytes written are those that jpegWrite
// writes for the same pixels in one buffer, whatever the number of lanes.
int jpegWriteRows(JPEG_PROPERTIES* properties, int requestCode, JpegRowSource* source);

class ByteSink;

// jpegWriteRows (jpegWrite on the whole buffer at inputPixels when `source` is null) for a
// file request whose bytes go to `sink` instead of a file: no file is opened, and
// outputFileName may be null. The interrupt flag must be 0: the sink is the write's for this
// call only.
int jpegWriteRowsInto(JPEG_PROPERTIES* properties, int requestCode, JpegRowSource* source,
                      ByteSink& sink);

// jpegWriteRowsInto the open file `file`, at its current position. The encoder owns `file`
// from the call on and closes it, whatever the result; a failed close gives
// JPEG_ERR_CLOSE_FILE. With `startWriteback`, for a file the caller syncs afterwards, the
// file's writeback is started while it is written.
int jpegWriteRowsTo(JPEG_PROPERTIES* properties, int requestCode, JpegRowSource* source,
                    JpegFileHandle file, bool startWriteback = false);
