#include "tool/laneCount.h"

#include "jpeg/jpegRowSource.h"
#include "util/decimalText.h"
#include "util/platformProcessors.h"

#include <algorithm>
#include <cstdlib>

std::optional<int> parseLaneCount(const char* text) {
    return parseDecimalInRange(text, 1, kMaxRowSourceLanes);
}

int decideLaneCount(std::optional<int> forced, int processors) {
    return forced ? *forced : std::clamp(processors, 1, kMaxRowSourceLanes);
}

int pipelineThreads() {
    const std::optional<int> forced = parseLaneCount(std::getenv(kLaneCountVariable));
    return decideLaneCount(forced, forced ? 1 : platform::usableProcessors());
}
