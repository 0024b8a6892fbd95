#include "util/outputFile.h"

#include <utility>

namespace {

constexpr int kNameAttempts = 16;

// ".qmjpeg-<16 random hex digits>.tmp": hidden, unguessable, and short whatever the output's
// own name is.
bool temporaryName(std::string& name) {
    unsigned char random[8];
    if (!platform::randomBytes(random, sizeof random)) {
        return false;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    name = ".qmjpeg-";
    for (unsigned char byte : random) {
        name.push_back(kHex[byte >> 4]);
        name.push_back(kHex[byte & 15]);
    }
    name += ".tmp";
    return true;
}

} // namespace

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {}

OutputFile::~OutputFile() {
    discard();
}

bool OutputFile::prepare() {
    if (path_.empty() || !writePath_.empty()) {
        return false;
    }
    const platform::LinkEnd end = platform::followLinks(path_);
    if (!end.ok) {
        return false;
    }
    if (end.descriptor) {
        writePath_ = path_;
        return true;
    }
    const platform::FileFacts facts = platform::pathFacts(end.path);
    switch (facts.kind) {
    case platform::FileKind::Directory:
    case platform::FileKind::Unusable:
        return false;
    case platform::FileKind::Other:
        writePath_ = path_;
        return true;
    case platform::FileKind::Regular:
        // A file we could not open for writing is not ours to replace either.
        if (!platform::canWrite(end.path)) {
            return false;
        }
        replacesExisting_ = true;
        break;
    case platform::FileKind::Missing:
        break;
    }
    const std::string folder = platform::folderPrefix(end.path);
    if (folder.size() == end.path.size()) {
        return false; // "name/": no file name
    }
    target_ = end.path;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string name;
        if (!temporaryName(name)) {
            return false;
        }
        const std::string candidate = folder + name;
        platform::InterruptHold hold;
        temp_ = platform::createNewFile(candidate, replacesExisting_ ? &facts : nullptr);
        if (temp_ != platform::kNoFile) {
            platform::removeOnInterrupt(candidate);
            tempPath_ = candidate;
            writePath_ = candidate;
            return true;
        }
        if (platform::pathFacts(candidate).kind == platform::FileKind::Missing) {
            return false; // not a clash of names: the folder does not take new files
        }
    }
    return false;
}

bool OutputFile::commit() {
    if (tempPath_.empty()) {
        return !writePath_.empty() && temp_ == platform::kNoFile;
    }
    // Synced before the rename when an output is replaced, so that a crash cannot leave an
    // empty file where the old one was; the name must still be the file created above.
    bool ok =
        (!replacesExisting_ || platform::syncFile(temp_)) && platform::isSameFile(temp_, tempPath_);
    ok = platform::closeFile(temp_) && ok;
    temp_ = platform::kNoFile;
    if (ok) {
        platform::InterruptHold hold;
        ok = platform::replaceFile(tempPath_, target_);
        if (ok) {
            tempPath_.clear();
            platform::removeOnInterrupt({});
        }
    }
    if (!ok) {
        discard();
    }
    return ok;
}

void OutputFile::discard() {
    if (temp_ != platform::kNoFile) {
        platform::closeFile(temp_);
        temp_ = platform::kNoFile;
    }
    if (!tempPath_.empty()) {
        platform::InterruptHold hold;
        platform::removeFile(tempPath_);
        platform::removeOnInterrupt({});
        tempPath_.clear();
    }
}

bool writeWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    OutputFile output(path);
    if (!output.prepare()) {
        return false;
    }
    const platform::FileHandle file = platform::openForWriting(output.writePath());
    if (file == platform::kNoFile) {
        return false;
    }
    bool ok = platform::writeAll(file, data, size, nullptr);
    ok = platform::closeFile(file) && ok;
    return ok && output.commit();
}
