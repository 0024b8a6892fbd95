// Fatal one-line reports for broken internal invariants. Both write their line to standard
// output, flush it and end the process with exit status -1 (255 as a shell sees it).
#pragma once

// "VX2 ASSERT violation in <file> line <line>\n"
[[noreturn]] void reportAssert(const char* file, int line);

// "VX2 ERROR in <file> line <line>: <message>\n"
[[noreturn]] void reportError(const char* file, int line, const char* message);

// Checks a condition; on failure reports the given file identifier and line.
#define VX2_ASSERT(condition, file, line)                                                          \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            reportAssert((file), (line));                                                          \
        }                                                                                          \
    } while (false)
