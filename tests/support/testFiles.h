// Small file helpers shared by the tests: a private scratch folder per test and whole-file I/O.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace testing_support {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system temp folder, removed with everything in it on destruction.
class ScratchDir {
public:
    ScratchDir() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() /
                ("qmjpeg-test-" + std::to_string(rd()) + "-" + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool fileExists(const std::string& path) {
    return std::filesystem::exists(path);
}

// Little-endian appenders for building binary test files.
inline void putU8(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
}
inline void putU16(Bytes& b, std::uint32_t v) {
    putU8(b, v & 0xFF);
    putU8(b, (v >> 8) & 0xFF);
}
inline void putU32(Bytes& b, std::uint32_t v) {
    putU16(b, v & 0xFFFF);
    putU16(b, (v >> 16) & 0xFFFF);
}

// Path of a file in the test corpus (tests/data in the source tree).
inline std::string corpusPath(const std::string& relative) {
    return std::string(QMJPEG_CORPUS_DIR) + "/" + relative;
}

// Success when a corpus file or folder is there; otherwise a failure that says where it was
// looked for.
inline ::testing::AssertionResult corpusDataPresent(const std::string& relative) {
    std::error_code error;
    if (std::filesystem::exists(corpusPath(relative), error)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "test data " << corpusPath(relative)
           << " is missing (the bmpsuite corpus belongs in tests/data/bmpsuite)";
}

// Names of the files with the given extension in a corpus folder, sorted. A missing or
// unreadable folder gives an empty list, never an exception, so that listing the tests cannot
// fail; the tests that need the folder check it with corpusDataPresent.
inline std::vector<std::string> corpusFiles(const std::string& folder,
                                            const std::string& extension) {
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator entry(corpusPath(folder), error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        if (entry->path().extension() == extension) {
            names.push_back(entry->path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace testing_support
