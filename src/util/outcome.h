// The outcome of a step that may fail: success, or the reason it failed, in words for people
// ("No space left on device"), with the code that the step's interface records for it where
// it has one (a last-error code).
#pragma once

#include <string>
#include <utility>

class [[nodiscard]] Outcome {
public:
    Outcome() = default; // success
    static Outcome failure(std::string reason) { return failure(0, std::move(reason)); }
    static Outcome failure(int code, std::string reason) {
        Outcome outcome;
        outcome.failed_ = true;
        outcome.code_ = code;
        outcome.reason_ = std::move(reason);
        return outcome;
    }

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const std::string& reason() const { return reason_; }
    int code() const { return code_; }

private:
    bool failed_ = false;
    int code_ = 0;
    std::string reason_;
};
