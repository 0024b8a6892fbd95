// The program's layer over the operating system's file, signal and thread interfaces (POSIX
// or Windows); the count of usable processors is its own file of this layer
// (util/platformProcessors). Two other places meet the system for one job each: the
// wide-character command line on Windows (util/commandLine) and the processor identification
// with its registry override (jpeg/processorInfo). Paths are UTF-8 text everywhere; files are
// always opened in binary mode and sizes are 64-bit on every platform. Nothing here throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace platform {

// An open file: a descriptor (a C run-time descriptor on Windows).
using FileHandle = int;
inline constexpr FileHandle kNoFile = -1;

enum class FileKind {
    Missing,   // nothing at that path (the path itself may still be creatable)
    Regular,   // an ordinary file
    Directory, // a folder
    Other,     // a device, FIFO or socket: written in place, never replaced
    Unusable,  // the path cannot be examined (no permission, a file used as a folder, a loop)
};

struct FileFacts {
    FileKind kind = FileKind::Missing;
    std::uint64_t size = 0;        // bytes, for regular files
    std::uint32_t permissions = 0; // permission bits (POSIX), 0 elsewhere
    std::uint32_t owner = 0;       // owner and group (POSIX), 0 elsewhere
    std::uint32_t group = 0;
};

// --- Open files -----------------------------------------------------------------------------

// A buffered standard stream; `mode` is "rb" or "wb" (binary everywhere). Null on failure.
std::FILE* openStream(const std::string& path, const char* mode);
// The path as the standard library's file streams take it (wide characters on Windows), so
// that std::ifstream opens UTF-8 names too.
std::filesystem::path streamPath(const std::string& path);
// Facts about an open stream (kind and size); false when they cannot be had.
bool streamFacts(std::FILE* stream, FileFacts& facts);

// Opens the existing file `path` for reading only, in binary mode. Not inherited by child
// processes. kNoFile on failure.
FileHandle openForReading(const std::string& path);
// Facts about an open file (kind and size); false when they cannot be had.
bool fileFacts(FileHandle file, FileFacts& facts);
// Reads up to `size` bytes at `offset` without using or moving the file position (positional
// read), repeating short reads. The number of bytes read, fewer than `size` only at the end of
// the file, or -1 on a read error.
std::int64_t readAt(FileHandle file, std::int64_t offset, void* buffer, std::size_t size);
// Reads the next bytes of a file or stream front to back, repeating short reads: the number
// read, fewer than `size` only at its end, or -1 on a read error.
std::int64_t readNext(FileHandle file, void* buffer, std::size_t size);

// Opens `path` for reading and writing, creating it or cutting it to length 0. Not inherited
// by child processes. kNoFile on failure.
FileHandle openForWriting(const std::string& path);
// Creates `path`, which must not exist yet, for reading and writing. With `like`, the new file
// gets its permission bits (and, where the system allows, its owner and group); otherwise the
// permissions any new file gets (0666 less the umask on POSIX). kNoFile on failure.
FileHandle createNewFile(const std::string& path, const FileFacts* like);
// Writes all `count` bytes, retrying after interruptions; false on failure or no progress.
// `written` (optional) receives the bytes written.
bool writeAll(FileHandle file, const void* bytes, std::size_t count, std::size_t* written);
// Forces the file's data to the storage device.
bool syncFile(FileHandle file);
// Starts writing the file's changed data to the storage device without waiting for it (where
// the system offers that), so that a later syncFile has less to wait for. Failures are ignored.
void startWriteback(FileHandle file);
// Closes the handle; false when the close reports an error (the handle is released anyway).
bool closeFile(FileHandle file);
// True when `path` still names the file that `file` is open on (always true where the system
// cannot tell).
bool isSameFile(FileHandle file, const std::string& path);

// Opens a new handle on the open descriptor `descriptor` (dup): writes through it go where the
// descriptor's own writes go, at its current position. kNoFile on failure.
FileHandle duplicateHandle(FileHandle descriptor);

// --- Failures -------------------------------------------------------------------------------

// The system's reason for the latest failure of a call above on this thread ("No space left on
// device"), or "" when none failed since the last clearFailure().
std::string lastFailure();
void clearFailure();

// --- Paths ----------------------------------------------------------------------------------

// Facts about the file at `path`, following symbolic links.
FileFacts pathFacts(const std::string& path);
// True when the calling user may write to the existing file at `path`.
bool canWrite(const std::string& path);

struct LinkEnd {
    std::string path; // the path with every symbolic link of its last part followed
    // The open descriptor of this process that the chain names (/dev/stdout, /dev/fd/N,
    // /proc/self/fd/N), or kNoFile.
    FileHandle descriptor = kNoFile;
    bool ok = true; // false: a link could not be read, or the chain is too long
};
// Follows a chain of symbolic links in the last part of `path` to where it ends, or to the
// name of one of this process's open descriptors; the end need not exist. Without symbolic
// links (Windows) the path comes back unchanged.
LinkEnd followLinks(const std::string& path);
// The folder part of `path`, with its trailing separator ("dir/" for "dir/name"), or "" for
// a bare file name.
std::string folderPrefix(const std::string& path);
// Fills `buffer` from the system's unpredictable random source.
bool randomBytes(void* buffer, std::size_t size);
// Renames `from` over `to` in one step, replacing an existing file.
bool replaceFile(const std::string& from, const std::string& to);
// Removes the file at `path`.
bool removeFile(const std::string& path);

// --- Interruption ---------------------------------------------------------------------------

// While a path is set, an interruption (SIGINT, SIGTERM, SIGHUP; Ctrl-C or console close on
// Windows) removes that file and then ends the process as the interruption would have (exit
// status 128 + signal number); so does a process exit that skips the owner's cleanup. An empty
// path clears it. Signals the process ignored at start stay ignored.
void removeOnInterrupt(const std::string& path);

// Holds off interruptions while alive, so that creating or renaming a file and recording it
// for removal happen as one step. Held interruptions arrive when the outermost hold ends.
class InterruptHold {
public:
    InterruptHold();
    ~InterruptHold();
    InterruptHold(const InterruptHold&) = delete;
    InterruptHold& operator=(const InterruptHold&) = delete;
};

// Starts `work` on a new thread that never takes interruptions: they stay with the main
// thread, whose holds keep a temporary output file and its removal in step. Throws
// std::system_error when no thread can be had.
std::thread startQuietThread(std::function<void()> work);

} // namespace platform
