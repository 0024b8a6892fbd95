// Reader and writer of signed binary files: an 8-character signature, then raw values exchanged
// byte for byte (callers decode multi-byte fields as little-endian). Failures return false and
// leave a code in the last-error record; nothing is thrown. A file that is not a regular file
// (a pipe, /dev/stdin) is read in full when it is opened, so that its size is known as a
// regular file's is.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class BinaryFile {
public:
    // The signature must have 8 characters (anything else is an assertion failure); its
    // character 5, the format digit, starts as '0'.
    explicit BinaryFile(std::string signature);
    virtual ~BinaryFile();
    BinaryFile(const BinaryFile&) = delete;
    BinaryFile& operator=(const BinaryFile&) = delete;

    // Opens an existing file and checks its signature (all characters but the format digit
    // must match; a digit above '0' must equal ours). The reader adopts the file's digit. A
    // stream is then read to its end into memory, at most streamLimit() bytes in all (more
    // fails with last error 1).
    virtual bool openRead(const std::string& name);
    // Creates or truncates a file and writes the signature.
    virtual bool openWrite(const std::string& name);
    virtual bool write(const void* source, std::uint32_t elementSize, std::uint32_t count);
    virtual bool read(void* destination, std::uint32_t elementSize, std::uint32_t count);
    void close();

    const std::string& fileName() const { return fileName_; }
    const std::string& signature() const { return signature_; }
    bool isOpen() const { return file_ != nullptr; }

    // Bytes from the current position to the end of the file open for reading (0 otherwise).
    std::uint64_t bytesRemaining() const;
    // Bytes consumed so far, the signature included.
    std::uint64_t position() const { return position_; }
    // Why the latest failure happened, in words for people ("file ends at byte 5 inside the
    // 8-byte signature"); kept when the failure closes the file.
    const std::string& failureReason() const { return failureReason_; }

    static constexpr std::uint64_t kDefaultStreamLimit = std::uint64_t{1} << 32; // 4 GiB
    std::uint64_t streamLimit() const { return streamLimit_; }
    void setStreamLimit(std::uint64_t bytes) { streamLimit_ = bytes; }

private:
    bool readStreamToEnd();
    bool fail(std::int32_t code, std::string reason);

    std::string fileName_;
    std::string signature_;
    std::FILE* file_ = nullptr;
    std::uint64_t size_ = 0;                // size of a regular file open for reading
    std::uint64_t position_ = 0;            // bytes consumed so far
    bool inMemory_ = false;                 // a stream, read in full into streamData_
    std::vector<unsigned char> streamData_; // the stream's bytes after the signature
    std::uint64_t streamLimit_ = kDefaultStreamLimit;
    std::string failureReason_;
};
