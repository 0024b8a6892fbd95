// Zig-zag map: natural index of zig-zag position k, followed by 16 entries of 63.
#pragma once

#include <cstdint>

extern const std::int32_t zigzagToNatural[80];
