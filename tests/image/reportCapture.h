// Test helper: switches the image library to its returning error mode and records every report.
#pragma once

#include "image/iplImage.h"

#include <string>
#include <vector>

namespace image_test {

struct Report {
    int status;
    std::string function;
    std::string message;
    std::string file;
    int line;
};

// While alive: error mode 1, a handler that records each report, status 0. Restores mode 0,
// the default handler and status 0 on destruction.
class ReportCapture {
public:
    ReportCapture() {
        reports().clear();
        iplSetErrorMode(IPL_ErrModeParent);
        previous_ = iplSetErrorHandler(&record);
        iplSetStatus(IPL_StsOk);
    }
    ~ReportCapture() {
        iplSetErrorHandler(previous_);
        iplSetErrorMode(IPL_ErrModeLeaf);
        iplSetStatus(IPL_StsOk);
    }
    ReportCapture(const ReportCapture&) = delete;
    ReportCapture& operator=(const ReportCapture&) = delete;

    const std::vector<Report>& all() const { return reports(); }
    bool empty() const { return reports().empty(); }
    const Report& last() const { return reports().back(); }
    void reset() {
        reports().clear();
        iplSetStatus(IPL_StsOk);
    }

private:
    static std::vector<Report>& reports() {
        static std::vector<Report> list;
        return list;
    }
    static int record(int status, const char* function, const char* message, const char* file,
                      int line) {
        reports().push_back(
            {status, function ? function : "", message ? message : "", file ? file : "", line});
        return status;
    }

    IplErrorHandler previous_ = nullptr;
};

} // namespace image_test
