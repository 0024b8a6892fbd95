// The outcome of a step that may fail: success, or the reason it failed, in words for people
// ("No space left on device").
#pragma once

#include <string>
#include <utility>

class [[nodiscard]] Outcome {
public:
    Outcome() = default; // success
    static Outcome failure(std::string reason) {
        Outcome outcome;
        outcome.failed_ = true;
        outcome.reason_ = std::move(reason);
        return outcome;
    }

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const std::string& reason() const { return reason_; }

private:
    bool failed_ = false;
    std::string reason_;
};
