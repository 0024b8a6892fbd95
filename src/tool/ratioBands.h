// The shading-ratio image of two bitmaps, produced one MCU row (kBandRows rows) at a time for the
// JPEG encoder: straight from the stored rows when both store blue-green-red pixels, else from
// their converted RGBA rows. With several threads the source has as many lanes (up to
// kMaxRowSourceLanes): the encoder codes parts of the picture on as many threads, each reading
// and turning into ratio rows the bands of its own parts.
#pragma once

#include "jpeg/jpegRowSource.h"
#include "tool/bmpBandReader.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class RatioBandSource final : public JpegRowSource {
public:
    // Both readers are open and of the same, non-zero size; they must outlive this source.
    // One lane for each thread, up to kMaxRowSourceLanes.
    RatioBandSource(BmpBandReader& source, BmpBandReader& finalImage, int threads);
    ~RatioBandSource();
    RatioBandSource(const RatioBandSource&) = delete;
    RatioBandSource& operator=(const RatioBandSource&) = delete;

    // False when the band memory could not be obtained.
    bool valid() const { return valid_; }
    // Bytes from one ratio row to the next (row padding included), as an Rgba8 image has.
    std::int64_t rowStep() const;
    // A pixel row that stays readable while the source lives.
    const std::uint8_t* anyRow() const;

    const std::uint8_t* rows(int lane, std::int32_t firstRow, std::int32_t count) override;
    int lanes() const override { return static_cast<int>(lanes_.size()); }

    // Which input could no longer be read after its checks (the file changed or a read
    // failed), once rows() has returned null for that reason: the first one found.
    enum class FailedInput { None, Source, Final };
    FailedInput failedInput() const { return failedInput_.load(); }
    // Why that input could not be read, once every lane has stopped asking for rows.
    const std::string& failureReason() const { return failureReason_; }

private:
    struct Lane;

    void fail(FailedInput input);
    // The lane's ratio rows from both bitmaps' stored rows, or from their converted rows.
    const std::uint8_t* storedRatio(Lane& lane, std::int32_t firstRow, std::int32_t count);
    const std::uint8_t* convertedRatio(Lane& lane, std::int32_t firstRow, std::int32_t count);

    BmpBandReader& source_;
    BmpBandReader& final_;
    int width_;
    int height_;
    // The ratio comes from converted rows: one of the bitmaps does not store blue-green-red
    // pixels (BmpBandReader::storedBgrPixelBytes).
    bool converts_;
    bool valid_ = true;
    std::atomic<FailedInput> failedInput_{FailedInput::None};
    std::string failureReason_; // written once, by the lane whose failure is recorded
    std::vector<std::unique_ptr<Lane>> lanes_;
};
