// A refusal of the image library as a value: what its status channel will be told, and why in
// words for people. Cores that check bitmaps return one; the library's own operations report
// it (reportImageRefusal), readers outside the library pass it on to their callers.
#pragma once

#include "image/iplImage.h"

#include <string>

struct ImageRefusal {
    int status = IPL_StsOk;
    const char* function = "";
    const char* message = "";
    const char* file = "";
    int line = 0;
    std::string reason;

    bool refused() const { return status != IPL_StsOk; }
    // The reason, or the status's text where the refusal gave none.
    std::string text() const { return reason.empty() ? iplStatusText(status) : reason; }
};

// The conversion's refusal of a bitmap fault that describeDib or checkDibExtent found.
struct DibStatus;
ImageRefusal dibRefusal(const DibStatus& status);

// Sets the status reason and reports the refusal through iplReportStatus (which, in the
// default error mode, ends the process).
inline void reportImageRefusal(const ImageRefusal& refusal) {
    iplSetStatusReason(refusal.reason.c_str());
    iplReportStatus(refusal.status, refusal.function, refusal.message, refusal.file, refusal.line);
}
