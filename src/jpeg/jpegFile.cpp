#include "jpeg/jpegFile.h"

#include "util/platformFile.h"

static_assert(kNoJpegFile == platform::kNoFile, "the encoder's handles are the platform's");

JpegFileHandle jpegFileOpen(const char* path) {
    if (path == nullptr || *path == '\0') {
        return kNoJpegFile;
    }
    return platform::openForWriting(path);
}

bool jpegFileWrite(JpegFileHandle file, const std::uint8_t* bytes, std::uint32_t count,
                   std::uint32_t* written) {
    std::size_t done = 0;
    const bool ok = file != kNoJpegFile && platform::writeAll(file, bytes, count, &done);
    if (written != nullptr) {
        *written = static_cast<std::uint32_t>(done);
    }
    return ok;
}

void jpegFileStartWriteback(JpegFileHandle file) {
    if (file != kNoJpegFile) {
        platform::startWriteback(file);
    }
}

bool jpegFileClose(JpegFileHandle file) {
    return platform::closeFile(file);
}

bool jpegFileNamedBy(JpegFileHandle file, const char* path) {
    platform::FileFacts facts;
    return file != kNoJpegFile && path != nullptr && *path != '\0' &&
           platform::fileFacts(file, facts) && facts.kind == platform::FileKind::Regular &&
           platform::isSameFile(file, path);
}

bool jpegFileRemove(const char* path) {
    return path != nullptr && *path != '\0' && platform::removeFile(path);
}
