// Checks shared by the fuzz entries that read bitmaps: the image library's returning error
// mode, a size guard, and the agreement of the whole-file loader and the band reader.
#pragma once

#include "tool/bmpBandReader.h"
#include "tool/bmpLoader.h"
#include "util/lastError.h"
#include "vx2Image/QimImg.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz_entry {

// The image library reports refusals by ending the process in its fixed error mode; the
// returning mode lets one process take many inputs. The previous mode comes back afterwards.
class ReturningErrorMode {
public:
    ReturningErrorMode();
    ~ReturningErrorMode();
    ReturningErrorMode(const ReturningErrorMode&) = delete;
    ReturningErrorMode& operator=(const ReturningErrorMode&) = delete;

private:
    int previous_;
};

// True when the info header gives a size the loader would accept with more than `limit`
// pixels; sizes that it refuses (negative widths, sides above 65535) are never too large, as
// it refuses them before allocating anything.
bool bmpTooLargeToTry(const std::uint8_t* data, std::size_t size, std::int64_t limit);

// What a loader decided on one file: accepted or not, the cause and the reason it gives.
struct LoadOutcome {
    bool accepted = false;
    std::int32_t code = kLastErrorNone;
    std::string reason;
};

// The outcome of a load; clears the image library's status and reason that a refusal in its
// returning error mode leaves behind.
LoadOutcome outcomeOf(const Outcome& checked);

// The band reader on the file the whole loader read into `image` with outcome `whole`: the
// same decision, cause and size, and when both accept, the same colour bytes in every band.
// Null when they agree.
const char* checkStreamed(const std::string& path, const LoadOutcome& whole,
                          const QimImgT<Rgba8>& image);

} // namespace fuzz_entry
