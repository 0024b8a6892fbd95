// Helpers shared by the fuzz entries: a reader that turns the fuzzer's bytes into choices, and
// an in-memory file that the loaders can open by name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fuzz_support {

// Reads choices from the input; past its end every read gives zero.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | (byte() << 8)); }
    std::uint32_t u32() { return std::uint32_t{u16()} | (std::uint32_t{u16()} << 16); }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    // True about once in `n` reads.
    bool oneIn(unsigned n) { return byte() % n == 0; }
    // A value in [low, high]; `low` when the range is empty.
    std::int32_t range(std::int32_t low, std::int32_t high) {
        if (high <= low) {
            return low;
        }
        const std::uint64_t span = static_cast<std::uint64_t>(std::int64_t{high} - low) + 1;
        return static_cast<std::int32_t>(low + static_cast<std::int64_t>(u32() % span));
    }
    template <class T, std::size_t N> T pick(const T (&values)[N]) { return values[byte() % N]; }
    // Edge values that break loose arithmetic.
    std::int32_t edgeValue() {
        static constexpr std::int32_t kEdges[] = {0,
                                                  -1,
                                                  1,
                                                  2,
                                                  7,
                                                  8,
                                                  9,
                                                  255,
                                                  256,
                                                  32767,
                                                  65535,
                                                  65536,
                                                  -65535,
                                                  -65536,
                                                  std::numeric_limits<std::int32_t>::max(),
                                                  std::numeric_limits<std::int32_t>::min()};
        return pick(kEdges);
    }
    // Mostly one of `usual`, sometimes an edge value, sometimes any 32-bit value.
    template <std::size_t N> std::int32_t choose(const std::int32_t (&usual)[N]) {
        switch (byte() % 16) {
        case 0:
            return edgeValue();
        case 1:
            return i32();
        default:
            return pick(usual);
        }
    }

    const std::uint8_t* rest() const { return data_ + pos_; }
    std::size_t restSize() const { return size_ - pos_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A file in memory, reachable by name through /proc/self/fd; nothing is left on disk.
class MemoryFile {
public:
    explicit MemoryFile(const char* name) : fd_(::memfd_create(name, MFD_CLOEXEC)) {
        if (fd_ >= 0) {
            path_ = "/proc/self/fd/" + std::to_string(fd_);
        }
    }
    ~MemoryFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    bool ok() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

    // Replaces the contents with the given bytes.
    bool assign(const std::uint8_t* data, std::size_t size) {
        if (::ftruncate(fd_, 0) != 0) {
            return false;
        }
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    // Current contents (at most `limit` bytes).
    std::string contents(std::size_t limit) const {
        struct stat info {};
        if (::fstat(fd_, &info) != 0 || info.st_size < 0) {
            return {};
        }
        if (static_cast<std::size_t>(info.st_size) < limit) {
            limit = static_cast<std::size_t>(info.st_size);
        }
        std::string bytes(limit, '\0');
        std::size_t done = 0;
        while (done < limit) {
            const ssize_t n =
                ::pread(fd_, bytes.data() + done, limit - done, static_cast<off_t>(done));
            if (n <= 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        bytes.resize(done);
        return bytes;
    }

private:
    int fd_ = -1;
    std::string path_;
};

} // namespace fuzz_support
