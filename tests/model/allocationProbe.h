#pragma once

#include <cstddef>

// Largest single operator-new request since the last reset.
std::size_t largestAllocation();
// Sum of every operator-new request since the last reset (what was freed again included).
std::size_t totalAllocated();
// Resets both figures.
void resetLargestAllocation();
