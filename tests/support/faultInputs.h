// Faulty inputs for whole-program tests, and runs of the binary as an ordinary user (root
// reads and writes any file, so permission faults only show for another user).
#pragma once

#include "support/runProcess.h"
#include "support/testFiles.h"

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace testing_support {

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

enum class FaultyInput { Folder, Empty, DevNull, DanglingLink, Unreadable };

// Creates the faulty input `name` in `dir` and returns its path. `contents` is what the file
// held before it vanished, or what the unreadable file holds.
inline std::string prepareFaultyInput(const ScratchDir& dir, FaultyInput kind,
                                      const Bytes& contents, const std::string& name) {
    const std::string path = dir.file(name);
    switch (kind) {
    case FaultyInput::Folder:
        std::filesystem::create_directory(path);
        break;
    case FaultyInput::Empty:
        writeFile(path, Bytes{});
        break;
    case FaultyInput::DevNull:
        return "/dev/null";
    case FaultyInput::DanglingLink:
        writeFile(dir.file(name + ".gone"), contents);
        std::filesystem::create_symlink(dir.file(name + ".gone"), path);
        std::filesystem::remove(dir.file(name + ".gone"));
        break;
    case FaultyInput::Unreadable:
        writeFile(path, contents);
        ::chmod(path.c_str(), 0);
        break;
    }
    return path;
}

// Why a run as an ordinary user is skipped.
inline constexpr const char* kAsUserSkipReason =
    "cannot run the tool as an ordinary user here: that user cannot reach a copy of the tool or "
    "the test's files";

// Runs the tool, as uid/gid 65534 when `asUser`. Sets `skipped` when the switch is not
// possible although we are root; a non-root caller is an ordinary user already.
inline ProcessResult runQmjpegMaybeAsUser(const std::vector<std::string>& args, bool asUser,
                                          bool& skipped) {
    skipped = false;
    if (!asUser) {
        return runQmjpeg(args);
    }
    ProcessResult result = runQmjpegAsUser(kNobody, kNogroup, args);
    if (result.exitStatus == -2) {
        if (::geteuid() == 0) {
            skipped = true;
            return result;
        }
        result = runQmjpeg(args);
    }
    return result;
}

} // namespace testing_support
