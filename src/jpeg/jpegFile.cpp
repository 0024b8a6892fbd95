#include "jpeg/jpegFile.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

JpegFileHandle jpegFileOpen(const char* path) {
    if (path == nullptr) {
        return kNoJpegFile;
    }
    int fd;
    do {
        fd = ::open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? kNoJpegFile : fd;
}

bool jpegFileWrite(JpegFileHandle file, const std::uint8_t* bytes, std::uint32_t count,
                   std::uint32_t* written) {
    std::uint32_t done = 0;
    bool ok = true;
    while (done < count) {
        const ssize_t n = ::write(file, bytes + done, count - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ok = false;
            break;
        }
        if (n == 0) {
            // No progress and no error: the device takes nothing more.
            ok = false;
            break;
        }
        done += static_cast<std::uint32_t>(n);
    }
    if (written != nullptr) {
        *written = done;
    }
    return ok;
}

bool jpegFileClose(JpegFileHandle file) {
    // The descriptor is released even when close reports an error, so it is never retried.
    return ::close(file) == 0;
}
