// Output files written whole or not at all. A regular file (or a new path) is written to a new
// temporary file in the same folder, which replaces the output in one rename once it is
// complete; a failure or an interruption removes the temporary file and leaves an existing
// output as it was. Devices and FIFOs (/dev/stdout, /dev/null) are written in place.
#pragma once

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

    // Gets the output ready to be written. False when it cannot be written at all (a folder, a
    // read-only file, a folder that does not exist or cannot be written); nothing has changed
    // on disk then.
    bool prepare();
    // Where the content goes after prepare: the temporary file, or the output itself when it is
    // written in place. Writers open it with create-or-truncate.
    const std::string& writePath() const { return writePath_; }
    // Puts the completely written and closed content in place: synced (when an output existed
    // before) and renamed over the output. False when that fails; the temporary file is then
    // removed and an existing output is untouched.
    bool commit();

private:
    void discard();

    std::string path_;      // as given
    std::string target_;    // the file that is replaced: path_ with symbolic links followed
    std::string tempPath_;  // the temporary file, empty while there is none
    std::string writePath_; // tempPath_, or path_ for outputs written in place
    platform::FileHandle temp_ = platform::kNoFile;
    bool replacesExisting_ = false;
};

// Writes `size` bytes as the whole content of the output file `path`. False when it cannot be
// created, written completely or put in place; nothing has changed on disk then (for an output
// written in place, bytes written before the failure stay).
bool writeWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size);
