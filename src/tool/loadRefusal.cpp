#include "tool/loadRefusal.h"

#include "image/iplImage.h"

#include <cstdio>

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
        writeLoadRefusal(current.path, *reason != '\0' ? reason : iplStatusText(status));
        current.reported = true;
    }
    return iplDefaultErrorHandler(status, functionName, message, file, line);
}

} // namespace

void writeLoadRefusal(const std::string& path, const std::string& reason) {
    const std::string text = "qmjpeg: " + path + ": " + reason + "\n";
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
