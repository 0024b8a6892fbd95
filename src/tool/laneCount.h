// The lanes of the -i run: as many as the processors the run may use, or as QMJPEG_THREADS
// says. Each lane reads, converts and codes parts of the picture on a thread of its own.
#pragma once

#include <optional>

// The variable that forces the number of lanes (an integer 1 to kMaxRowSourceLanes).
inline constexpr const char* kLaneCountVariable = "QMJPEG_THREADS";

// The variable's value: decimal digits only, 1 to kMaxRowSourceLanes. Anything else (empty,
// 0, larger values, signs, blanks, other characters) gives nothing.
std::optional<int> parseLaneCount(const char* text);

// The lanes for a run: `forced` when there is one, else one for each of `processors` (at least
// 1, at most kMaxRowSourceLanes).
int decideLaneCount(std::optional<int> forced, int processors);

// This run's lanes, from the variable and the processors the process may use.
int pipelineThreads();
