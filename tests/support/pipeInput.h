// Bytes offered through a pipe under a path (/dev/fd/N), as a stream such as /dev/stdin is:
// no size known in advance, read once. A thread writes the bytes and then closes the pipe.
#pragma once

#include "support/testFiles.h"

#include <csignal>
#include <string>
#include <thread>
#include <unistd.h>

namespace testing_support {

class PipeInput {
public:
    explicit PipeInput(Bytes bytes) : bytes_(std::move(bytes)) {
        std::signal(SIGPIPE, SIG_IGN); // a reader that stops early must not end the tests
        int ends[2];
        if (::pipe(ends) != 0) {
            return;
        }
        readEnd_ = ends[0];
        const int writeEnd = ends[1];
        writer_ = std::thread([this, writeEnd] {
            std::size_t done = 0;
            while (done < bytes_.size()) {
                const ssize_t n = ::write(writeEnd, bytes_.data() + done, bytes_.size() - done);
                if (n <= 0) {
                    break; // the reader stopped early
                }
                done += static_cast<std::size_t>(n);
            }
            ::close(writeEnd);
        });
    }
    ~PipeInput() {
        if (readEnd_ >= 0) {
            ::close(readEnd_); // a writer still blocked gets EPIPE
        }
        if (writer_.joinable()) {
            writer_.join();
        }
    }
    PipeInput(const PipeInput&) = delete;
    PipeInput& operator=(const PipeInput&) = delete;

    std::string path() const { return "/dev/fd/" + std::to_string(readEnd_); }

private:
    Bytes bytes_;
    int readEnd_ = -1;
    std::thread writer_;
};

} // namespace testing_support
