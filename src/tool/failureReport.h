// Why a run failed. Every failure but the usage text puts one line on standard error,
// "qmjpeg: <path>: <reason>", before its message on standard output.
#pragma once

#include <stdexcept>
#include <string>

// A failure of the run: the message for standard output (the whole text), and the path it
// concerns with the reason, for standard error. An empty path writes no line (the usage text).
class ToolFailure : public std::runtime_error {
public:
    ToolFailure(const std::string& message, std::string path, std::string reason)
        : std::runtime_error(message), path_(std::move(path)), reason_(std::move(reason)) {}

    const std::string& path() const { return path_; }
    const std::string& reason() const { return reason_; }

private:
    std::string path_;
    std::string reason_;
};

// Writes "qmjpeg: <path>: <reason>" as one line on standard error; control bytes in either
// are escaped (\n, \t, \xHH) so that the line stays one line.
void writeFailureLine(const std::string& path, const std::string& reason);

// While alive, a refusal that the image library reports is first written as the failure line
// of loading `path`, with the reason the library gives; then the library's own handler runs
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
