// POSIX and Windows versions of the file and interruption interfaces in platformFile.h.
#ifdef _WIN32
#define _CRT_RAND_S // rand_s, the system's unpredictable random source
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#endif

#include "util/platformFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

namespace {

// Where the unfinished file's path is kept for the interruption handler: written only while
// interruptions are held, read by the handler. The storage is never freed while in use.
const char* volatile pendingPath = nullptr;
char* pendingStorage = nullptr;
bool cleanupInstalled = false;

// The system's error code of the latest failed call on this thread (0: none).
thread_local int failureCode = 0;

// Records errno as the reason of a failed call; a failure without one counts as an I/O error.
void noteFailure() {
    failureCode = errno != 0 ? errno : EIO;
}

// Repeats `readSome(bytes, count, done)` (a read(2)-like call for `count` bytes after `done`
// bytes) until `size` bytes are in, the input ends, or a read fails (-1).
template <class ReadSome>
std::int64_t readRepeatedly(void* buffer, std::size_t size, ReadSome readSome) {
    auto* bytes = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const std::int64_t n = readSome(bytes + done, size - done, done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            noteFailure();
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

void removePendingAtExit() {
    if (const char* path = pendingPath) {
        removeFile(path);
    }
}

void installCleanup(); // the system's interruption handlers, once

} // namespace

void removeOnInterrupt(const std::string& path) {
    InterruptHold hold;
    if (!cleanupInstalled) {
        cleanupInstalled = true;
        installCleanup();
        std::atexit(removePendingAtExit);
    }
    pendingPath = nullptr;
#ifndef _WIN32
    // Windows runs its console handler on another thread, which may still hold the old path:
    // there the few bytes stay allocated.
    delete[] pendingStorage;
#endif
    pendingStorage = nullptr;
    if (!path.empty()) {
        pendingStorage = new (std::nothrow) char[path.size() + 1];
        if (pendingStorage != nullptr) {
            std::memcpy(pendingStorage, path.c_str(), path.size() + 1);
            pendingPath = pendingStorage;
        }
    }
}

std::string lastFailure() {
    return failureCode == 0 ? std::string() : std::string(std::strerror(failureCode));
}

void clearFailure() {
    failureCode = 0;
}

std::string folderPrefix(const std::string& path) {
#ifdef _WIN32
    const std::size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) {
        // "C:name" lies in the current folder of drive C.
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : std::string();
    }
#else
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {};
    }
#endif
    return path.substr(0, slash + 1);
}

#ifdef _WIN32

namespace {

// Records the failure of a Windows call under the nearest C error code, so that its reason reads
// as on other systems.
void noteWindowsFailure() {
    switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        errno = ENOENT;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
        errno = EACCES;
        break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        errno = ENOSPC;
        break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        errno = EEXIST;
        break;
    case ERROR_INVALID_NAME:
        errno = EINVAL;
        break;
    default:
        errno = EIO;
        break;
    }
    noteFailure();
}

// A name that is not valid UTF-8 names no file.
void noteBadName() {
    errno = EINVAL;
    noteFailure();
}

// UTF-8 to UTF-16; empty for text that is not valid UTF-8, which no file operation accepts.
std::wstring toWide(const std::string& text) {
    if (text.empty() || text.size() > 0x7FFFFFFF) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int needed =
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (needed <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, wide.data(), needed);
    return wide;
}

// Read and write access, shared with every other opener (a second handle on the same file, and
// removal while open, which the interruption handler needs), binary descriptor.
FileHandle openHandle(const std::string& path, DWORD disposition) {
    const std::wstring wide = toWide(path);
    if (wide.empty()) {
        noteBadName();
        return kNoFile;
    }
    HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        noteWindowsFailure();
        return kNoFile;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    if (fd < 0) {
        noteFailure();
        ::CloseHandle(handle);
        return kNoFile;
    }
    return fd;
}

FileKind kindOf(unsigned short mode) {
    if ((mode & _S_IFMT) == _S_IFREG) {
        return FileKind::Regular;
    }
    return (mode & _S_IFMT) == _S_IFDIR ? FileKind::Directory : FileKind::Other;
}

BOOL WINAPI onConsoleEvent(DWORD) {
    if (const char* path = pendingPath) {
        removeFile(path);
    }
    return FALSE; // the default handling ends the process
}

void installCleanup() {
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

} // namespace

std::filesystem::path streamPath(const std::string& path) {
    return std::filesystem::path(toWide(path));
}

std::FILE* openStream(const std::string& path, const char* mode) {
    const std::wstring wide = toWide(path);
    std::wstring wideMode;
    for (const char* c = mode; *c != '\0'; ++c) {
        wideMode.push_back(static_cast<wchar_t>(*c));
    }
    if (wide.empty() || wideMode.find(L'b') == std::wstring::npos) {
        return nullptr;
    }
    return ::_wfopen(wide.c_str(), wideMode.c_str());
}

bool streamFacts(std::FILE* stream, FileFacts& facts) {
    return stream != nullptr && fileFacts(::_fileno(stream), facts);
}

FileHandle openForReading(const std::string& path) {
    const std::wstring wide = toWide(path);
    if (wide.empty()) {
        noteBadName();
        return kNoFile;
    }
    const int fd = ::_wopen(wide.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        noteFailure();
        return kNoFile;
    }
    return fd;
}

bool fileFacts(FileHandle file, FileFacts& facts) {
    struct _stat64 info {};
    if (file < 0 || ::_fstat64(file, &info) != 0) {
        return false;
    }
    facts = FileFacts{};
    facts.kind = kindOf(info.st_mode);
    facts.size = info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    return true;
}

std::int64_t readAt(FileHandle file, std::int64_t offset, void* buffer, std::size_t size) {
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(file));
    return readRepeatedly(buffer, size, [&](char* into, std::size_t count, std::size_t done) {
        const auto position = static_cast<std::uint64_t>(offset) + done;
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(position);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD got = 0;
        const auto want = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
        if (!::ReadFile(handle, into, want, &got, &at)) {
            return ::GetLastError() == ERROR_HANDLE_EOF ? std::int64_t{0} : std::int64_t{-1};
        }
        return static_cast<std::int64_t>(got);
    });
}

std::int64_t readNext(FileHandle file, void* buffer, std::size_t size) {
    return readRepeatedly(buffer, size, [&](char* into, std::size_t count, std::size_t) {
        const auto chunk = static_cast<unsigned int>(std::min<std::size_t>(count, 1u << 30));
        return static_cast<std::int64_t>(::_read(file, into, chunk));
    });
}

FileHandle openForWriting(const std::string& path) {
    return openHandle(path, CREATE_ALWAYS);
}

FileHandle createNewFile(const std::string& path, const FileFacts*) {
    return openHandle(path, CREATE_NEW);
}

bool writeAll(FileHandle file, const void* bytes, std::size_t count, std::size_t* written) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    std::size_t done = 0;
    bool ok = file >= 0;
    while (ok && done < count) {
        const auto chunk = static_cast<unsigned int>(std::min<std::size_t>(count - done, 1u << 30));
        const int n = ::_write(file, p + done, chunk);
        if (n <= 0) {
            if (n == 0) {
                errno = ENOSPC; // the device takes nothing more
            }
            noteFailure();
            ok = false;
        } else {
            done += static_cast<std::size_t>(n);
        }
    }
    if (written != nullptr) {
        *written = done;
    }
    return ok;
}

bool syncFile(FileHandle file) {
    if (file < 0 || ::_commit(file) != 0) {
        noteFailure();
        return false;
    }
    return true;
}

void startWriteback(FileHandle) {}

bool closeFile(FileHandle file) {
    if (file < 0 || ::_close(file) != 0) {
        noteFailure();
        return false;
    }
    return true;
}

FileHandle duplicateHandle(FileHandle descriptor) {
    const int fd = ::_dup(descriptor);
    if (fd < 0) {
        noteFailure();
        return kNoFile;
    }
    return fd;
}

bool isSameFile(FileHandle, const std::string&) {
    return true;
}

FileFacts pathFacts(const std::string& path) {
    FileFacts facts;
    const std::wstring wide = toWide(path);
    struct _stat64 info {};
    if (wide.empty()) {
        noteBadName();
        facts.kind = FileKind::Unusable;
    } else if (::_wstat64(wide.c_str(), &info) != 0) {
        noteFailure();
        facts.kind = errno == ENOENT ? FileKind::Missing : FileKind::Unusable;
    } else {
        facts.kind = kindOf(info.st_mode);
        facts.size = info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    }
    return facts;
}

bool canWrite(const std::string& path) {
    const std::wstring wide = toWide(path);
    if (wide.empty() || ::_waccess(wide.c_str(), 2) != 0) {
        noteFailure();
        return false;
    }
    return true;
}

LinkEnd followLinks(const std::string& path) {
    return LinkEnd{path, kNoFile, true};
}

bool randomBytes(void* buffer, std::size_t size) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        unsigned int value = 0;
        if (::rand_s(&value) != 0) {
            return false;
        }
        const std::size_t n = std::min<std::size_t>(size, sizeof value);
        std::memcpy(out, &value, n);
        out += n;
        size -= n;
    }
    return true;
}

bool replaceFile(const std::string& from, const std::string& to) {
    const std::wstring wideFrom = toWide(from);
    const std::wstring wideTo = toWide(to);
    if (wideFrom.empty() || wideTo.empty()) {
        noteBadName();
        return false;
    }
    if (::MoveFileExW(wideFrom.c_str(), wideTo.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
        noteWindowsFailure();
        return false;
    }
    return true;
}

bool removeFile(const std::string& path) {
    const std::wstring wide = toWide(path);
    return !wide.empty() && ::DeleteFileW(wide.c_str()) != 0;
}

// The console handler runs on its own thread; there is nothing to hold off.
InterruptHold::InterruptHold() = default;
InterruptHold::~InterruptHold() = default;

#else // POSIX

namespace {

constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP};
int holdDepth = 0;  // nested holds: only the outermost one blocks and restores
sigset_t savedMask; // the signal mask before the outermost hold

sigset_t interruptionSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kInterruptions) {
        sigaddset(&set, signal);
    }
    return set;
}

FileKind kindOf(mode_t mode) {
    if (S_ISREG(mode)) {
        return FileKind::Regular;
    }
    return S_ISDIR(mode) ? FileKind::Directory : FileKind::Other;
}

// Only async-signal-safe calls: remove the file, then end the process by the same signal
// with its default action.
extern "C" void onInterrupt(int signal) {
    if (const char* path = pendingPath) {
        ::unlink(path);
    }
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    ::sigaction(signal, &defaultAction, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
}

void installCleanup() {
    for (int signal : kInterruptions) {
        struct sigaction previous {};
        if (::sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) {
            continue; // started with the signal ignored (nohup): keep it so
        }
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        action.sa_mask = interruptionSet();
        ::sigaction(signal, &action, nullptr);
    }
}

int retryOpen(const char* path, int flags, mode_t mode) {
#ifdef O_CLOEXEC
    flags |= O_CLOEXEC;
#endif
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        noteFailure();
    }
    return fd;
}

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// "123" as a number; -1 for anything else (empty, a sign, other characters, too long).
long wholeNumber(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return -1;
    }
    return std::strtol(text.c_str(), nullptr, 10);
}

// The descriptor N that `path` names when it is /dev/fd/N, /proc/self/fd/N,
// /proc/thread-self/fd/N or /proc/<this process>/fd/N and N is open; kNoFile otherwise.
FileHandle descriptorNamed(const std::string& path) {
    std::string number;
    if (startsWith(path, "/dev/fd/")) {
        number = path.substr(8);
    } else if (startsWith(path, "/proc/")) {
        const std::size_t slash = path.find('/', 6);
        if (slash == std::string::npos || path.compare(slash, 4, "/fd/") != 0) {
            return kNoFile;
        }
        const std::string process = path.substr(6, slash - 6);
        if (process != "self" && process != "thread-self" &&
            wholeNumber(process) != static_cast<long>(::getpid())) {
            return kNoFile;
        }
        number = path.substr(slash + 4);
    } else {
        return kNoFile;
    }
    const long fd = wholeNumber(number);
    if (fd < 0 || fd > 0x7FFFFFFF || ::fcntl(static_cast<int>(fd), F_GETFD) == -1) {
        return kNoFile;
    }
    return static_cast<FileHandle>(fd);
}

} // namespace

std::filesystem::path streamPath(const std::string& path) {
    return std::filesystem::path(path);
}

std::FILE* openStream(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

bool streamFacts(std::FILE* stream, FileFacts& facts) {
    return stream != nullptr && fileFacts(::fileno(stream), facts);
}

FileHandle openForReading(const std::string& path) {
    const int fd = retryOpen(path.c_str(), O_RDONLY, 0);
    return fd < 0 ? kNoFile : fd;
}

bool fileFacts(FileHandle file, FileFacts& facts) {
    struct stat info {};
    if (file < 0 || ::fstat(file, &info) != 0) {
        return false;
    }
    facts = FileFacts{};
    facts.kind = kindOf(info.st_mode);
    facts.size = info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    return true;
}

std::int64_t readAt(FileHandle file, std::int64_t offset, void* buffer, std::size_t size) {
    return readRepeatedly(buffer, size, [&](char* into, std::size_t count, std::size_t done) {
        return static_cast<std::int64_t>(::pread(
            file, into, count, static_cast<off_t>(offset + static_cast<std::int64_t>(done))));
    });
}

std::int64_t readNext(FileHandle file, void* buffer, std::size_t size) {
    return readRepeatedly(buffer, size, [&](char* into, std::size_t count, std::size_t) {
        return static_cast<std::int64_t>(::read(file, into, count));
    });
}

FileHandle openForWriting(const std::string& path) {
    const int fd = retryOpen(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
    return fd < 0 ? kNoFile : fd;
}

FileHandle createNewFile(const std::string& path, const FileFacts* like) {
    const int fd =
        retryOpen(path.c_str(), O_RDWR | O_CREAT | O_EXCL, like != nullptr ? 0600 : 0666);
    if (fd < 0) {
        return kNoFile;
    }
    if (like != nullptr) {
        // Owner first (allowed to root, or to the owner for one of its groups): a change of
        // owner may clear permission bits. Either may fail; the file is then just ours.
        [[maybe_unused]] const int owned = ::fchown(fd, like->owner, like->group);
        [[maybe_unused]] const int moded = ::fchmod(fd, like->permissions & 0777);
    }
    return fd;
}

bool writeAll(FileHandle file, const void* bytes, std::size_t count, std::size_t* written) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    std::size_t done = 0;
    bool ok = true;
    while (done < count) {
        const ssize_t n = ::write(file, p + done, std::min<std::size_t>(count - done, 1u << 30));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // An error, or no progress without one: the device takes nothing more.
            if (n == 0) {
                errno = ENOSPC;
            }
            noteFailure();
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (written != nullptr) {
        *written = done;
    }
    return ok;
}

bool syncFile(FileHandle file) {
    int result;
    do {
        result = ::fsync(file);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        noteFailure();
        return false;
    }
    return true;
}

void startWriteback([[maybe_unused]] FileHandle file) {
#if defined(__linux__)
    // Offset 0 and length 0: the whole file. Pages already on their way are skipped; a file
    // that cannot take it (a pipe, a terminal) is left as it is.
    const int saved = errno;
    ::sync_file_range(file, 0, 0, SYNC_FILE_RANGE_WRITE);
    errno = saved;
#endif
}

bool closeFile(FileHandle file) {
    // Never retried: the descriptor is released even when close reports an error.
    if (file < 0 || ::close(file) != 0) {
        noteFailure();
        return false;
    }
    return true;
}

FileHandle duplicateHandle(FileHandle descriptor) {
    const int fd = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        noteFailure();
        return kNoFile;
    }
    return fd;
}

bool isSameFile(FileHandle file, const std::string& path) {
    struct stat open {};
    struct stat named {};
    return ::fstat(file, &open) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

FileFacts pathFacts(const std::string& path) {
    FileFacts facts;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        noteFailure();
        facts.kind = errno == ENOENT ? FileKind::Missing : FileKind::Unusable;
        return facts;
    }
    facts.kind = kindOf(info.st_mode);
    facts.size = info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    facts.permissions = static_cast<std::uint32_t>(info.st_mode & 07777);
    facts.owner = static_cast<std::uint32_t>(info.st_uid);
    facts.group = static_cast<std::uint32_t>(info.st_gid);
    return facts;
}

bool canWrite(const std::string& path) {
    if (::access(path.c_str(), W_OK) != 0) {
        noteFailure();
        return false;
    }
    return true;
}

LinkEnd followLinks(const std::string& path) {
    constexpr int kMostLinks = 40; // as the system's own loop limit
    LinkEnd end{path, kNoFile, true};
    for (int hop = 0; hop <= kMostLinks; ++hop) {
        // Names of this process's own open descriptors are written through the descriptor.
        end.descriptor = descriptorNamed(end.path);
        if (end.descriptor != kNoFile) {
            return end;
        }
        struct stat info {};
        if (::lstat(end.path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return end;
        }
        std::string target(256, '\0');
        for (;;) {
            const ssize_t n = ::readlink(end.path.c_str(), target.data(), target.size());
            if (n < 0) {
                noteFailure();
                end.ok = false;
                return end;
            }
            if (static_cast<std::size_t>(n) < target.size()) {
                target.resize(static_cast<std::size_t>(n));
                break;
            }
            target.resize(target.size() * 2);
        }
        end.path = target.starts_with('/') ? target : folderPrefix(end.path) + target;
    }
    errno = ELOOP;
    noteFailure();
    end.ok = false;
    return end;
}

bool randomBytes(void* buffer, std::size_t size) {
    auto* out = static_cast<unsigned char*>(buffer);
    const int fd = retryOpen("/dev/urandom", O_RDONLY, 0);
    if (fd < 0) {
        return false;
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, out + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return done == size;
}

bool replaceFile(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        noteFailure();
        return false;
    }
    return true;
}

bool removeFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

InterruptHold::InterruptHold() {
    if (holdDepth++ == 0) {
        const sigset_t set = interruptionSet();
        ::sigprocmask(SIG_BLOCK, &set, &savedMask);
    }
}

InterruptHold::~InterruptHold() {
    if (--holdDepth == 0) {
        ::sigprocmask(SIG_SETMASK, &savedMask, nullptr);
    }
}

#endif

std::thread startQuietThread(std::function<void()> work) {
    // A thread starts with the signal mask of its creator, held here.
    const InterruptHold hold;
    return std::thread(std::move(work));
}

} // namespace platform
