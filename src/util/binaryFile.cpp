#include "util/binaryFile.h"

#include "util/diagnostics.h"
#include "util/lastError.h"
#include "util/platformFile.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <utility>

namespace {
constexpr const char* kSourceFile = "src/util/binaryFile";
constexpr std::size_t kSignatureLength = 8;
constexpr std::size_t kFormatDigit = 5;
constexpr std::size_t kStreamBlock = std::size_t{1} << 20;
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
    size_ = 0;
    position_ = 0;
    inMemory_ = false;
    std::vector<unsigned char>().swap(streamData_);
}

bool BinaryFile::fail(std::int32_t code, std::string reason) {
    setLastError(code, fileName_);
    failureReason_ = std::move(reason);
    close();
    return false;
}

namespace {

// The file's first 8 bytes as text, with bytes outside printable ASCII as escapes.
std::string quotedSignature(const char* bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text = "\"";
    for (std::size_t i = 0; i < kSignatureLength; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\') {
            text.push_back(static_cast<char>(byte));
        } else {
            text += "\\x";
            text.push_back(kHex[byte >> 4]);
            text.push_back(kHex[byte & 15]);
        }
    }
    return text + "\"";
}

std::string endText(std::uint64_t end) {
    return "file ends at byte " + std::to_string(end);
}

std::string systemErrorText() {
    return errno != 0 ? std::strerror(errno) : "read error";
}

} // namespace

bool BinaryFile::openRead(const std::string& name) {
    close();
    failureReason_.clear();
    errno = 0;
    file_ = platform::openStream(name, "rb");
    if (file_ == nullptr) {
        setLastError(kLastErrorOpen, name);
        failureReason_ = systemErrorText();
        return false;
    }
    platform::FileFacts facts;
    const bool regular =
        platform::streamFacts(file_, facts) && facts.kind == platform::FileKind::Regular;
    size_ = facts.size;
    char header[kSignatureLength + 1] = {};
    if (!read(header, kSignatureLength, 1)) {
        // read has recorded code 1 and closed the file
        if (failureReason_.starts_with("file ends") || failureReason_.starts_with("input ends")) {
            failureReason_ += " inside the 8-byte signature";
        }
        return false;
    }
    char expected[kSignatureLength + 1];
    std::memcpy(expected, header, sizeof expected);
    expected[kFormatDigit] = signature_[kFormatDigit];
    // Compared as a zero-terminated text: a zero byte outside the digit fails the match.
    const std::string mismatch =
        "signature is " + quotedSignature(header) + ", not \"" + signature_ + "\"";
    if (signature_ != expected) {
        setLastError(kLastErrorSignature, name);
        failureReason_ = mismatch;
        close();
        return false;
    }
    const auto digit = static_cast<signed char>(header[kFormatDigit]);
    if (digit > '0' && digit != signature_[kFormatDigit]) {
        setLastError(kLastErrorOpen, name);
        failureReason_ = mismatch;
        close();
        return false;
    }
    if (!regular && !readStreamToEnd()) {
        setLastError(kLastErrorRead, name);
        if (failureReason_.empty()) {
            failureReason_ = "holds more than " + std::to_string(streamLimit_) + " bytes";
        }
        close();
        return false;
    }
    signature_[kFormatDigit] = static_cast<char>(digit);
    fileName_ = name;
    return true;
}

// Reads the rest of a stream in blocks, then joins them into one exact array: at most one
// block more than the stream's size is ever held.
bool BinaryFile::readStreamToEnd() {
    try {
        std::vector<std::vector<unsigned char>> blocks;
        std::uint64_t total = position_;
        for (;;) {
            std::vector<unsigned char> block(kStreamBlock);
            const std::size_t n = std::fread(block.data(), 1, block.size(), file_);
            total += n;
            if (total > streamLimit_ ||
                total - position_ > std::numeric_limits<std::size_t>::max()) {
                return false;
            }
            if (n > 0) {
                block.resize(n);
                blocks.push_back(std::move(block));
            }
            if (n < kStreamBlock) {
                if (std::ferror(file_) != 0) {
                    failureReason_ = systemErrorText();
                    return false;
                }
                break;
            }
        }
        streamData_.resize(static_cast<std::size_t>(total - position_));
        std::size_t at = 0;
        for (auto& block : blocks) {
            std::memcpy(streamData_.data() + at, block.data(), block.size());
            at += block.size();
            std::vector<unsigned char>().swap(block);
        }
    } catch (const std::bad_alloc&) {
        failureReason_ = "Cannot allocate memory";
        return false;
    }
    inMemory_ = true;
    size_ = position_ + streamData_.size();
    return true;
}

bool BinaryFile::openWrite(const std::string& name) {
    close();
    file_ = platform::openStream(name, "wb");
    if (file_ == nullptr) {
        setLastError(kLastErrorCreate, name);
        failureReason_ = systemErrorText();
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
    const std::uint64_t bytes = std::uint64_t{elementSize} * count;
    if (bytes == 0) {
        return true;
    }
    if (inMemory_) {
        if (bytes > bytesRemaining()) {
            return fail(kLastErrorRead, endText(position_ + bytesRemaining()));
        }
        const auto offset = static_cast<std::size_t>(position_ - kSignatureLength);
        std::memcpy(destination, streamData_.data() + offset, static_cast<std::size_t>(bytes));
    } else if (bytes > std::numeric_limits<std::size_t>::max()) {
        return fail(kLastErrorRead, "Cannot allocate memory");
    } else if (errno = 0; std::fread(destination, elementSize, count, file_) != count) {
        if (std::ferror(file_) != 0) {
            return fail(kLastErrorRead, systemErrorText());
        }
        const long end = std::ftell(file_); // where the input ended, where it can tell
        return fail(kLastErrorRead, end >= 0 ? endText(static_cast<std::uint64_t>(end))
                                             : std::string("input ends early"));
    }
    position_ += bytes;
    return true;
}

bool BinaryFile::write(const void* source, std::uint32_t elementSize, std::uint32_t count) {
    if (file_ == nullptr) {
        return false;
    }
    errno = 0;
    if (std::fwrite(source, elementSize, count, file_) == count) {
        return true;
    }
    return fail(kLastErrorWrite, systemErrorText());
}

std::uint64_t BinaryFile::bytesRemaining() const {
    return file_ != nullptr && size_ > position_ ? size_ - position_ : 0;
}
