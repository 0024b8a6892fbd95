#include "util/positionalRead.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#endif

#ifndef O_BINARY
#define O_BINARY 0
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif

namespace {

// Repeats `readSome(bytes, count, done)` (a read(2)-like call for `count` bytes at progress
// `done`) until `size` bytes are in, the input ends, or a read fails (-1).
template <class ReadSome>
std::int64_t readRepeatedly(void* buffer, std::size_t size, ReadSome readSome) {
    auto* bytes = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = readSome(bytes + done, size - done, done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

} // namespace

std::int64_t readAt(int fd, std::int64_t offset, void* buffer, std::size_t size) {
    return readRepeatedly(buffer, size, [&](char* into, std::size_t count, std::size_t done) {
#if defined(_WIN32)
        // ReadFile at an explicit offset; like pread, it leaves the descriptor's position
        // unused for the read itself.
        const auto position = static_cast<std::uint64_t>(offset) + done;
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(position);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD got = 0;
        const DWORD want = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
        const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
        if (!ReadFile(handle, into, want, &got, &at)) {
            errno = GetLastError() == ERROR_HANDLE_EOF ? 0 : EIO;
            return errno == 0 ? ssize_t{0} : ssize_t{-1};
        }
        return static_cast<ssize_t>(got);
#else
        return ::pread(fd, into, count, static_cast<off_t>(offset + done));
#endif
    });
}

InputFile::InputFile(const std::string& path) {
    do {
        fd_ = ::open(path.c_str(), O_RDONLY | O_BINARY | O_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
}

InputFile::~InputFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::optional<std::int64_t> InputFile::seekableSize() const {
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(info.st_size);
}

std::int64_t InputFile::readNext(void* buffer, std::size_t size) {
    return readRepeatedly(buffer, size, [&](char* into, std::size_t count, std::size_t) {
        return ::read(fd_, into, count);
    });
}
