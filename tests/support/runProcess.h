// Runs a program as a child process and collects its standard output and exit status.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace testing_support {

struct ProcessResult {
    int exitStatus = -1; // 0..255 as a shell sees it; -1 when the child did not exit normally
    std::string output;  // everything the child wrote to standard output
    std::string errors;  // everything it wrote to standard error
};

// Cross builds run the target's executable through their emulator, QMJPEG_EMULATOR (words
// joined by '|', empty natively). These are its words.
inline std::vector<std::string> emulatorWords() {
    std::vector<std::string> words;
    const std::string emulator = QMJPEG_EMULATOR;
    for (std::size_t start = 0; start < emulator.size();) {
        const std::size_t end = std::min(emulator.find('|', start), emulator.size());
        words.push_back(emulator.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

// Replaces the (child) process with `program`, argv[0] exactly as given. The built qmjpeg (or
// a copy of it, `isTool`) runs through the emulator of a cross build; qemu's -0 option keeps
// the given argv[0] for it.
[[noreturn]] inline void execTarget(const std::string& program,
                                    const std::vector<std::string>& argv, bool isTool = false) {
    std::vector<std::string> command;
    if (isTool || program == QMJPEG_BINARY) {
        command = emulatorWords();
    }
    std::string path = program;
    if (!command.empty()) {
        path = command.front();
        if (command.front().find("qemu-") != std::string::npos && !argv.empty()) {
            command.insert(command.end(), {"-0", argv.front()});
        }
        command.push_back(program);
        command.insert(command.end(), argv.begin() + (argv.empty() ? 0 : 1), argv.end());
    } else {
        command = argv;
    }
    std::vector<char*> raw;
    for (auto& a : command) {
        raw.push_back(a.data());
    }
    raw.push_back(nullptr);
    ::execv(path.c_str(), raw.data());
    ::_exit(127);
}

inline std::string drain(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, static_cast<size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    return text;
}

// argv[0] is passed exactly as given; the program itself is found at `program`.
inline ProcessResult runProcess(const std::string& program, const std::vector<std::string>& argv) {
    int outPipe[2];
    int errPipe[2];
    ProcessResult result;
    if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) {
        return result;
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        ::close(errPipe[0]);
        ::close(errPipe[1]);
        execTarget(program, argv);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    // Stderr is small in every test; read stdout first, then stderr.
    result.output = drain(outPipe[0]);
    result.errors = drain(errPipe[0]);
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
    }
    return result;
}

// Runs the built qmjpeg with the given arguments (argv[0] = the binary's path).
inline ProcessResult runQmjpeg(const std::vector<std::string>& args) {
    std::vector<std::string> argv{QMJPEG_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(QMJPEG_BINARY, argv);
}

} // namespace testing_support

namespace testing_support {

// A copy of the built qmjpeg in a fresh folder under the system's temporary folder, open to
// every user: the build folder may lie in a private home folder (root's is 0700) that another
// user cannot reach. Made once per test program and removed at its end; empty when it cannot
// be made.
class ToolCopyForAnyUser {
public:
    static const std::string& path() {
        static const ToolCopyForAnyUser copy;
        return copy.binary_;
    }

private:
    ToolCopyForAnyUser() {
        std::error_code error;
        std::string folder =
            (std::filesystem::temp_directory_path(error) / "qmjpeg-bin-XXXXXX").string();
        if (error || ::mkdtemp(folder.data()) == nullptr) {
            return;
        }
        folder_ = folder;
        const std::filesystem::path binary = std::filesystem::path(folder) / "qmjpeg";
        std::filesystem::copy_file(QMJPEG_BINARY, binary, error);
        if (error || ::chmod(folder.c_str(), 0755) != 0 || ::chmod(binary.c_str(), 0755) != 0) {
            return;
        }
        binary_ = binary.string();
    }
    ~ToolCopyForAnyUser() {
        std::error_code error;
        if (!folder_.empty()) {
            std::filesystem::remove_all(folder_, error);
        }
    }

    std::string folder_;
    std::string binary_;
};

// Runs the built qmjpeg as another user (only possible when the tests run as root), so that
// permission checks apply that root itself would bypass. The status is -2 when that cannot be
// arranged here: not root, no copy of the tool that the user can run, or the user cannot reach
// the tool or a folder of the arguments' paths.
inline ProcessResult runQmjpegAsUser(uid_t uid, gid_t gid, const std::vector<std::string>& args) {
    ProcessResult result;
    result.exitStatus = -2;
    const std::string& binary = ToolCopyForAnyUser::path();
    if (::geteuid() != 0 || binary.empty()) {
        return result;
    }
    constexpr int kUnreachable = 125;
    int outPipe[2];
    if (::pipe(outPipe) != 0) {
        return result;
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outPipe[1], 1);
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        if (::setgid(gid) != 0 || ::setuid(uid) != 0 || ::access(binary.c_str(), X_OK) != 0) {
            ::_exit(kUnreachable);
        }
        for (const std::string& arg : args) {
            const std::filesystem::path parent = std::filesystem::path(arg).parent_path();
            if (arg.starts_with("/") && !parent.empty() && ::access(parent.c_str(), X_OK) != 0) {
                ::_exit(kUnreachable);
            }
        }
        std::vector<std::string> argv{QMJPEG_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        execTarget(binary, argv, true);
    }
    ::close(outPipe[1]);
    result.output = drain(outPipe[0]);
    ::close(outPipe[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (result.exitStatus == kUnreachable) {
        result.exitStatus = -2;
    }
    return result;
}

} // namespace testing_support
