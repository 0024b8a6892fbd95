// Small file helpers shared by the tests: a private scratch folder per test and whole-file I/O.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

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

} // namespace testing_support
