#include "tool/failureReport.h"

#include "image/iplImage.h"

#include <cstdio>
#include <string>

namespace {

// The path being loaded and whether its line is out; the library's handler is a plain
// function, so they live here while a reporter is alive.
struct Current {
    std::string path;
    bool reported = false;
};
Current current;

int reportThenHandle(int status, const char* functionName, const char* message, const char* file,
                     int line) {
    if (!current.reported) {
        const char* reason = iplGetStatusReason();
        writeFailureLine(current.path, *reason != '\0' ? reason : iplStatusText(status));
        current.reported = true;
    }
    return iplDefaultErrorHandler(status, functionName, message, file, line);
}

// The text with every control byte written as an escape.
std::string escaped(const std::string& text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            out.push_back(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += "\\x";
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 15]);
        }
    }
    return out;
}

} // namespace

void writeFailureLine(const std::string& path, const std::string& reason) {
    const std::string text = "qmjpeg: " + escaped(path) + ": " + escaped(reason) + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

LibraryRefusalReporter::LibraryRefusalReporter(const std::string& path)
    : previous_(iplSetErrorHandler(reportThenHandle)) {
    current.path = path;
    current.reported = false;
    iplSetStatusReason("");
}

LibraryRefusalReporter::~LibraryRefusalReporter() {
    iplSetErrorHandler(previous_);
}

bool LibraryRefusalReporter::reported() const {
    return current.reported;
}
