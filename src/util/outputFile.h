// Output files written whole or not at all. A regular file (or a new path) is written to a new
// temporary file in the same folder, which replaces the output in one rename once it is
// complete; a failure or an interruption removes the temporary file and leaves an existing
// output as it was. A path that names one of the process's open descriptors (/dev/stdout,
// /dev/fd/N, /proc/self/fd/N) is written through that descriptor at its current position;
// devices, FIFOs and sockets are written in place.
#pragma once

#include "util/outcome.h"
#include "util/platformFile.h"

#include <cstddef>
#include <cstdint>
#include <string>

class OutputFile {
public:
    explicit OutputFile(std::string path);
    // Removes the temporary file unless the output was committed.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Gets the output ready to be written. Fails when it cannot be written at all (a folder, a
    // read-only file, a folder that does not exist or cannot be written); nothing has changed
    // on disk then.
    Outcome prepare();
    // A new handle, for one writer that closes it, on where the content goes after prepare:
    // the temporary file, the named descriptor, or the device. kNoFile on failure.
    platform::FileHandle openContent();
    // Where the content goes, by name: the temporary file, or the output itself when it is
    // written in place.
    const std::string& writePath() const { return writePath_; }
    // True when commit syncs the content before the rename: an output existed before.
    bool syncsOnCommit() const { return replacesExisting_; }
    // Puts the completely written and closed content in place: synced (when an output existed
    // before) and renamed over the output. On failure the temporary file is removed and an
    // existing output is untouched.
    Outcome commit();

private:
    Outcome createTemporary(const platform::FileFacts& facts);
    void discard();

    std::string path_;      // as given
    std::string target_;    // the file that is replaced: path_ with symbolic links followed
    std::string tempPath_;  // the temporary file, empty while there is none
    std::string writePath_; // tempPath_, or path_ for outputs written in place
    platform::FileHandle temp_ = platform::kNoFile;
    platform::FileHandle descriptor_ = platform::kNoFile; // the open descriptor path_ names
    bool replacesExisting_ = false;
};

// Writes `size` bytes as the whole content of the output file `path`. On failure nothing has
// changed on disk (for an output written in place, bytes written before the failure stay).
Outcome writeWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size);

// The reason of a failed platform call on this thread, or `fallback` when it gave none.
std::string systemReason(const char* fallback);
