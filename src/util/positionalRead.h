// Read-only input files read at explicit offsets (positional reads), so that several readers
// can share one descriptor and no file is ever mapped or held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// Reads up to `size` bytes at `offset` of the open file `fd` without moving its file position.
// Repeats short reads until `size` bytes are in or the file ends. Returns the number of bytes
// read (less than `size` only at the end of the file), or -1 on a read error.
std::int64_t readAt(int fd, std::int64_t offset, void* buffer, std::size_t size);

// An input file opened read-only in binary mode, closed by the destructor.
class InputFile {
public:
    InputFile() = default;
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    int descriptor() const { return fd_; }

    // The size of a regular file, whose bytes can be read at any offset; nothing for pipes,
    // terminals and other inputs that can only be read once, front to back.
    std::optional<std::int64_t> seekableSize() const;

    // Reads the next bytes of a stream front to back (repeating short reads); the number read,
    // less than `size` only at its end, or -1 on a read error.
    std::int64_t readNext(void* buffer, std::size_t size);

private:
    int fd_ = -1;
};
