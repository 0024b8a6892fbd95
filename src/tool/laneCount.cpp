#include "tool/laneCount.h"

#include "jpeg/jpegRowSource.h"
#include "util/platformProcessors.h"

#include <algorithm>
#include <cstdlib>

std::optional<int> parseLaneCount(const char* text) {
    if (text == nullptr || *text == '\0') {
        return std::nullopt;
    }
    int value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return std::nullopt;
        }
        value = value * 10 + (*p - '0');
        if (value > kMaxRowSourceLanes) {
            return std::nullopt;
        }
    }
    if (value < 1) {
        return std::nullopt;
    }
    return value;
}

int decideLaneCount(std::optional<int> forced, int processors) {
    return forced ? *forced : std::clamp(processors, 1, kMaxRowSourceLanes);
}

int pipelineThreads() {
    const std::optional<int> forced = parseLaneCount(std::getenv(kLaneCountVariable));
    return decideLaneCount(forced, forced ? 1 : platform::usableProcessors());
}
