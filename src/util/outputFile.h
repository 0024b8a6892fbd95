// Whole-file output with clean failure: nothing half-written is left behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Creates or truncates `path` and writes `size` bytes to it. Returns false when the file
// cannot be opened, written completely or closed; a file that was opened is then removed
// again (regular files only, so a device such as /dev/full is never unlinked).
bool writeWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size);

// Removes `path` if it is a regular file: the leftovers of an output that failed part-way.
void removeFailedOutput(const std::string& path);
