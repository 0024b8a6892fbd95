#include "util/diagnostics.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

[[noreturn]] void writeAndExit(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    // A normal exit, so static destructors and stream flushing still run.
    std::exit(-1);
}

} // namespace

void reportAssert(const char* file, int line) {
    writeAndExit(std::string("VX2 ASSERT violation in ") + file + " line " + std::to_string(line) +
                 "\n");
}

void reportError(const char* file, int line, const char* message) {
    writeAndExit(std::string("VX2 ERROR in ") + file + " line " + std::to_string(line) + ": " +
                 message + "\n");
}
