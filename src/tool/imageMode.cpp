// The -i mode: the shading-ratio image of a source and a final bitmap, written as a JPEG file.
// The bitmaps are read, converted and turned into ratio rows one band at a time while the
// encoder codes them, so memory does not grow with the height of the picture.
#include "tool/bmpBandReader.h"
#include "tool/jpegFileWriter.h"
#include "tool/modes.h"
#include "tool/ratioBands.h"
#include "util/outputFile.h"

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

// True when both paths name one existing file.
bool sameExistingFile(const std::string& a, const std::string& b) {
    const FileState first = fileState(a);
    const FileState second = fileState(b);
    return first.exists && second.exists && first.device == second.device &&
           first.inode == second.inode;
}

} // namespace

void runImageMode(const std::string& sourceFile, const std::string& finalFile,
                  const std::string& outputFile) {
    // Every check of both bitmaps runs here, before the output is touched.
    // Rows are read while the output is written: an input that the output replaces is read
    // whole first.
    BmpBandReader source;
    BmpBandReader finalImage;
    if (!source.open(sourceFile, sameExistingFile(sourceFile, outputFile))) {
        throw std::runtime_error("Unable to load src image\n");
    }
    if (!finalImage.open(finalFile, sameExistingFile(finalFile, outputFile))) {
        throw std::runtime_error("Unable to load final image\n");
    }
    if (source.width() != finalImage.width() || source.height() != finalImage.height()) {
        throw std::runtime_error("Image dimensions don't match\n");
    }
    if (source.width() == 0 || source.height() == 0) {
        throw std::runtime_error("Image dimensions cannot be zero\n");
    }

    RatioBandSource ratio(source, finalImage, pipelineThreads());
    if (!ratio.valid()) {
        throw std::runtime_error("Memory allocation error.\n");
    }

    // A write that fails part-way must not leave a broken file behind; a file the encoder
    // could not even open (still exactly as it was) is not ours to remove.
    const FileState before = fileState(outputFile);
    if (!writeJpegRows(outputFile, source.width(), source.height(), ratio.rowStep(), ratio.anyRow(),
                       kJpegQuality, ratio)) {
        if (!before.exists || !sameFile(before, fileState(outputFile))) {
            removeFailedOutput(outputFile);
        }
        // An input that changed under the run is reported as the input it is.
        switch (ratio.failedInput()) {
        case RatioBandSource::FailedInput::Source:
            throw std::runtime_error("Unable to load src image\n");
        case RatioBandSource::FailedInput::Final:
            throw std::runtime_error("Unable to load final image\n");
        case RatioBandSource::FailedInput::None:
            break;
        }
        throw std::runtime_error("Unable to create output file.\n");
    }
}
