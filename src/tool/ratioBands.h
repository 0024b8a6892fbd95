// The shading-ratio image of two bitmaps, produced one MCU row (8 rows) at a time for the
// JPEG encoder. With two threads, a second thread reads, converts and computes the next bands
// while the encoder codes the current one.
#pragma once

#include "jpeg/jpegRowSource.h"
#include "tool/bmpBandReader.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Rows per band: one MCU row of the encoder.
inline constexpr int kBandRows = 8;

// Threads to use: 1 on a machine with one processor or when QMJPEG_THREADS is 1, else 2.
int pipelineThreads();

class RatioBandSource final : public JpegRowSource {
public:
    // Both readers are open and of the same, non-zero size; they must outlive this source.
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

    // Bands must be asked for in order, top first.
    const std::uint8_t* rows(std::int32_t firstRow, std::int32_t count) override;

    // Which input could no longer be read after its checks (the file changed or a read
    // failed), once rows() has returned null for that reason.
    enum class FailedInput { None, Source, Final };
    FailedInput failedInput() const { return failedInput_.load(); }

private:
    struct Slot;

    bool produce(int band, Slot& slot, BandImage& sourceBand, BandImage& finalBand);
    void producerLoop();

    BmpBandReader& source_;
    BmpBandReader& final_;
    int width_;
    int height_;
    int bands_;
    bool valid_ = true;
    std::atomic<FailedInput> failedInput_{FailedInput::None};
    std::unique_ptr<BandImage> sourceBand_;
    std::unique_ptr<BandImage> finalBand_;
    std::vector<std::unique_ptr<Slot>> slots_;

    // Two threads: slot b % slots holds band b. `produced` bands are ready, `consumed` are
    // done with; the producer stays at most `slots` bands ahead.
    std::mutex mutex_;
    std::condition_variable changed_;
    int produced_ = 0;
    int consumed_ = 0;
    bool failed_ = false;
    bool stopping_ = false;
    std::thread producer_;
};
