#pragma once

#include <cstddef>

// Largest single operator-new request since the last reset.
std::size_t largestAllocation();
void resetLargestAllocation();
