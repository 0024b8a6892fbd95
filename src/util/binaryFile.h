// Reader and writer of signed binary files: an 8-character signature, then raw values exchanged
// byte for byte as they lie in memory. Failures return false and leave a code in the
// last-error record; nothing is thrown.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class BinaryFile {
public:
    // The signature must have 8 characters (anything else is an assertion failure); its
    // character 5, the format digit, starts as '0'.
    explicit BinaryFile(std::string signature);
    virtual ~BinaryFile();
    BinaryFile(const BinaryFile&) = delete;
    BinaryFile& operator=(const BinaryFile&) = delete;

    // Opens an existing file and checks its signature (all characters but the format digit
    // must match; a digit above '0' must equal ours). The reader adopts the file's digit.
    virtual bool openRead(const std::string& name);
    // Creates or truncates a file and writes the signature.
    virtual bool openWrite(const std::string& name);
    virtual bool write(const void* source, std::uint32_t elementSize, std::uint32_t count);
    virtual bool read(void* destination, std::uint32_t elementSize, std::uint32_t count);
    void close();

    const std::string& fileName() const { return fileName_; }
    const std::string& signature() const { return signature_; }
    bool isOpen() const { return file_ != nullptr; }

    // True when the open file is a regular file, whose size is known in advance.
    bool isRegularFile() const;
    // Bytes from the current position to the end of the open regular file (0 otherwise).
    std::uint64_t bytesRemaining();

private:
    std::string fileName_;
    std::string signature_;
    std::FILE* file_ = nullptr;
};
