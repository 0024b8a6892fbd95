#include "tool/modes.h"

#include <stdexcept>

// Placeholder until the bitmap loader and the encoder are in: fails plainly, never pretends.
void runImageMode(const std::string&, const std::string&, const std::string&) {
    throw std::runtime_error("The -i mode is not available in this build.\n");
}
