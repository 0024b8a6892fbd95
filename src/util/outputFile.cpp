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

Outcome systemFailure(const char* fallback) {
    return Outcome::failure(systemReason(fallback));
}

} // namespace

std::string systemReason(const char* fallback) {
    std::string reason = platform::lastFailure();
    return reason.empty() ? std::string(fallback) : reason;
}

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {}

OutputFile::~OutputFile() {
    discard();
}

Outcome OutputFile::prepare() {
    if (path_.empty()) {
        return Outcome::failure("No such file or directory");
    }
    if (!writePath_.empty()) {
        return Outcome::failure("prepared twice");
    }
    platform::clearFailure();
    const platform::LinkEnd end = platform::followLinks(path_);
    if (!end.ok) {
        return systemFailure("symbolic link cannot be followed");
    }
    if (end.descriptor != platform::kNoFile) {
        descriptor_ = end.descriptor;
        writePath_ = path_;
        return {};
    }
    const platform::FileFacts facts = platform::pathFacts(end.path);
    switch (facts.kind) {
    case platform::FileKind::Directory:
        return Outcome::failure("Is a directory");
    case platform::FileKind::Unusable:
        return systemFailure("cannot be examined");
    case platform::FileKind::Other:
        writePath_ = path_;
        return {};
    case platform::FileKind::Regular:
        // A file we could not open for writing is not ours to replace either.
        if (!platform::canWrite(end.path)) {
            return systemFailure("Permission denied");
        }
        replacesExisting_ = true;
        break;
    case platform::FileKind::Missing:
        break;
    }
    target_ = end.path;
    return createTemporary(facts);
}

Outcome OutputFile::createTemporary(const platform::FileFacts& facts) {
    const std::string folder = platform::folderPrefix(target_);
    if (folder.size() == target_.size()) {
        return Outcome::failure("no file name after the last folder separator");
    }
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string name;
        if (!temporaryName(name)) {
            return systemFailure("no random name for a temporary file");
        }
        const std::string candidate = folder + name;
        platform::InterruptHold hold;
        temp_ = platform::createNewFile(candidate, replacesExisting_ ? &facts : nullptr);
        if (temp_ != platform::kNoFile) {
            platform::removeOnInterrupt(candidate);
            tempPath_ = candidate;
            writePath_ = candidate;
            return {};
        }
        const std::string reason = systemReason("cannot create a file in its folder");
        if (platform::pathFacts(candidate).kind == platform::FileKind::Missing) {
            return Outcome::failure(reason); // not a clash of names: no new files there
        }
    }
    return Outcome::failure("no free name for a temporary file in its folder");
}

platform::FileHandle OutputFile::openContent() {
    if (descriptor_ != platform::kNoFile) {
        return platform::duplicateHandle(descriptor_);
    }
    if (temp_ != platform::kNoFile) {
        return platform::duplicateHandle(temp_);
    }
    return writePath_.empty() ? platform::kNoFile : platform::openForWriting(writePath_);
}

Outcome OutputFile::commit() {
    if (tempPath_.empty()) {
        return !writePath_.empty() && temp_ == platform::kNoFile ? Outcome()
                                                                 : Outcome::failure("not prepared");
    }
    platform::clearFailure();
    // Synced before the rename when an output is replaced, so that a crash cannot leave an
    // empty file where the old one was; the name must still be the file created above.
    Outcome outcome;
    if (replacesExisting_ && !platform::syncFile(temp_)) {
        outcome = systemFailure("cannot be synced");
    } else if (!platform::isSameFile(temp_, tempPath_)) {
        outcome = Outcome::failure("its temporary file was replaced during the run");
    }
    if (!platform::closeFile(temp_) && outcome.ok()) {
        outcome = systemFailure("cannot be closed");
    }
    temp_ = platform::kNoFile;
    if (outcome.ok()) {
        platform::InterruptHold hold;
        if (platform::replaceFile(tempPath_, target_)) {
            tempPath_.clear();
            platform::removeOnInterrupt({});
        } else {
            outcome = systemFailure("cannot be renamed into place");
        }
    }
    if (!outcome.ok()) {
        discard();
    }
    return outcome;
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

Outcome writeWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    OutputFile output(path);
    if (Outcome prepared = output.prepare(); !prepared) {
        return prepared;
    }
    platform::clearFailure();
    const platform::FileHandle file = output.openContent();
    if (file == platform::kNoFile) {
        return systemFailure("cannot be opened");
    }
    const bool written = platform::writeAll(file, data, size, nullptr);
    Outcome outcome = written ? Outcome() : systemFailure("write failed");
    if (!platform::closeFile(file) && outcome.ok()) {
        outcome = systemFailure("cannot be closed");
    }
    return outcome.ok() ? output.commit() : outcome;
}
