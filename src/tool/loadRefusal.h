// The one standard-error line that says why a bitmap could not be loaded:
// "qmjpeg: <path as given>: <reason>".
#pragma once

#include <string>

void writeLoadRefusal(const std::string& path, const std::string& reason);

// While alive, a refusal that the image library reports is first written as the refusal of
// loading `path`, with the reason the library gives; then the library's own handler runs
// (which, in the default error mode, ends the process with status 1). At most one line is
// written per reporter.
class LibraryRefusalReporter {
public:
    explicit LibraryRefusalReporter(const std::string& path);
    ~LibraryRefusalReporter();
    LibraryRefusalReporter(const LibraryRefusalReporter&) = delete;
    LibraryRefusalReporter& operator=(const LibraryRefusalReporter&) = delete;

    // True when a line has been written for this path.
    bool reported() const;

private:
    using Handler = int (*)(int, const char*, const char*, const char*, int);
    Handler previous_;
};
