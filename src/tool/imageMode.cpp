// The -i mode: the shading-ratio image of a source and a final bitmap, written as a JPEG file.
#include "tool/bmpLoader.h"
#include "tool/jpegFileWriter.h"
#include "tool/loadRefusal.h"
#include "tool/modes.h"
#include "tool/shadingRatio.h"
#include "util/outputFile.h"
#include "vx2Image/QimImg.h"

#include <stdexcept>
#include <sys/stat.h>

namespace {

constexpr int kJpegQuality = 95;

// Identity of a file as far as a failed write could have changed it.
struct FileState {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
};

FileState fileState(const std::string& path) {
    FileState state;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        state.exists = true;
        state.device = info.st_dev;
        state.inode = info.st_ino;
        state.size = info.st_size;
        state.modified = info.st_mtim;
    }
    return state;
}

bool sameFile(const FileState& a, const FileState& b) {
    return a.exists == b.exists && a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modified.tv_sec == b.modified.tv_sec && a.modified.tv_nsec == b.modified.tv_nsec;
}

// Loads the bitmap; when that fails, one standard-error line says why (written before the
// image library ends the process for the refusals it reports itself).
bool loadWithReason(const std::string& path, QimImgT<Rgba8>& image) {
    const LibraryRefusalReporter reporter(path);
    std::string reason;
    if (loadBmpFile(path.c_str(), image, &reason)) {
        return true;
    }
    if (!reporter.reported()) {
        writeLoadRefusal(path, reason);
    }
    return false;
}

} // namespace

void runImageMode(const std::string& sourceFile, const std::string& finalFile,
                  const std::string& outputFile) {
    QimImgT<Rgba8> source;
    QimImgT<Rgba8> finalImage;
    source.create(0, 0, false, false, 0.0);
    finalImage.create(0, 0, false, false, 0.0);

    if (!loadWithReason(sourceFile, source)) {
        throw std::runtime_error("Unable to load src image\n");
    }
    if (!loadWithReason(finalFile, finalImage)) {
        throw std::runtime_error("Unable to load final image\n");
    }
    if (source.width() != finalImage.width() || source.height() != finalImage.height()) {
        throw std::runtime_error("Image dimensions don't match\n");
    }
    if (source.width() == 0 || source.height() == 0) {
        throw std::runtime_error("Image dimensions cannot be zero\n");
    }

    QimImgT<Rgba8> result;
    result.create(source.width(), source.height(), true, false, 0.0);
    if (!computeShadingRatio(source, finalImage, result)) {
        throw std::runtime_error("Memory allocation error.\n");
    }

    // A write that fails part-way must not leave a broken file behind; a file the encoder
    // could not even open (still exactly as it was) is not ours to remove.
    const FileState before = fileState(outputFile);
    if (!writeJpegFile(outputFile, result, kJpegQuality)) {
        if (!before.exists || !sameFile(before, fileState(outputFile))) {
            removeFailedOutput(outputFile);
        }
        throw std::runtime_error("Unable to create output file.\n");
    }
}
