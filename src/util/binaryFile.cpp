#include "util/binaryFile.h"

#include "util/diagnostics.h"
#include "util/lastError.h"

#include <cstring>
#include <sys/stat.h>
#include <utility>

namespace {
constexpr const char* kSourceFile = "src/util/binaryFile";
constexpr std::size_t kSignatureLength = 8;
constexpr std::size_t kFormatDigit = 5;
} // namespace

BinaryFile::BinaryFile(std::string signature) : signature_(std::move(signature)) {
    if (signature_.size() != kSignatureLength) {
        reportAssert(kSourceFile, 27);
    }
    signature_[kFormatDigit] = '0';
}

BinaryFile::~BinaryFile() {
    close();
}

void BinaryFile::close() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
    fileName_.clear();
    file_ = nullptr;
}

bool BinaryFile::openRead(const std::string& name) {
    close();
    file_ = std::fopen(name.c_str(), "rb");
    if (file_ == nullptr) {
        setLastError(kLastErrorOpen, name);
        return false;
    }
    char header[kSignatureLength + 1] = {};
    if (!read(header, kSignatureLength, 1)) {
        return false; // read has recorded code 1 and closed the file
    }
    char expected[kSignatureLength + 1];
    std::memcpy(expected, header, sizeof expected);
    expected[kFormatDigit] = signature_[kFormatDigit];
    // Compared as a zero-terminated text: a zero byte outside the digit fails the match.
    if (signature_ != expected) {
        setLastError(kLastErrorSignature, name);
        close();
        return false;
    }
    const auto digit = static_cast<signed char>(header[kFormatDigit]);
    if (digit > '0' && digit != signature_[kFormatDigit]) {
        setLastError(kLastErrorOpen, name);
        close();
        return false;
    }
    signature_[kFormatDigit] = static_cast<char>(digit);
    fileName_ = name;
    return true;
}

bool BinaryFile::openWrite(const std::string& name) {
    close();
    file_ = std::fopen(name.c_str(), "wb");
    if (file_ == nullptr) {
        setLastError(kLastErrorCreate, name);
        return false;
    }
    if (!write(signature_.data(), kSignatureLength, 1)) {
        setLastError(kLastErrorCreate, name);
        close();
        return false;
    }
    fileName_ = name;
    return true;
}

bool BinaryFile::read(void* destination, std::uint32_t elementSize, std::uint32_t count) {
    if (file_ == nullptr) {
        return false;
    }
    if (std::fread(destination, elementSize, count, file_) == count) {
        return true;
    }
    setLastError(kLastErrorRead, fileName_);
    close();
    return false;
}

bool BinaryFile::write(const void* source, std::uint32_t elementSize, std::uint32_t count) {
    if (file_ == nullptr) {
        return false;
    }
    if (std::fwrite(source, elementSize, count, file_) == count) {
        return true;
    }
    setLastError(kLastErrorWrite, fileName_);
    close();
    return false;
}

std::uint64_t BinaryFile::bytesRemaining() {
    if (file_ == nullptr) {
        return 0;
    }
    struct stat info {};
    const long position = std::ftell(file_);
    if (position < 0 || ::fstat(::fileno(file_), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size < position) {
        return 0;
    }
    return static_cast<std::uint64_t>(info.st_size - position);
}

bool BinaryFile::isRegularFile() const {
    struct stat info {};
    return file_ != nullptr && ::fstat(::fileno(file_), &info) == 0 && S_ISREG(info.st_mode);
}
