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
