// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace vx {

// Why something could not be done, as a value: the layers below the station's handlers answer with it
// instead of throwing, filling out-parameters or pairing a flag with a text, and the caller decides what
// the failure means (the same short file is an error in one place and a choice to ignore in another).
//
// An Error becomes an exception in one place only: a handler whose failure must reach the error report
// calls throwError() (an EInOutError: the message, and the file apart from it), and the handler's guard
// turns that into the report as it does with every other failure.
class Error {
public:
    // What went wrong, for the caller to branch on.
    enum class Kind {
        NotFound,     // the file or the thing asked for is not there
        TooShort,     // it holds fewer bytes than a whole record
        TooLarge,     // it holds more than anything of its kind would
        Refused,      // the system refused the call; errnoValue() says why
        Unavailable,  // nothing to ask: no device open
    };
    // The step of the operation that failed.
    enum class Step { Open, Read, Write, Close, Rename, Query };

    Error(Kind kind, Step step, std::string message, std::string path = {}, int errnoValue = 0)
        : kind_(kind),
          step_(step),
          message_(std::move(message)),
          path_(std::move(path)),
          errno_(errnoValue) {}

    // The system's failure `errnoValue` of a file call, with the run-time I/O error's text ("Disk full",
    // "File access denied", "I/O error 5", ...): Refused, also for ENOENT (a file that went away between
    // the look and the open was still meant to be there).
    static Error fromErrno(Step step, int errnoValue, std::string path);

    Kind kind() const { return kind_; }
    Step step() const { return step_; }
    // The text the user reads, exactly; it names the file only where the path is part of the text.
    const std::string& message() const { return message_; }
    // The file concerned, kept apart from the message so that a report can name it or not; may be empty.
    const std::string& path() const { return path_; }
    // The system's code where one was given, else 0.
    int errnoValue() const { return errno_; }

private:
    Kind kind_;
    Step step_;
    std::string message_;
    std::string path_;
    int errno_;
};

// The one conversion of an Error into an exception: EInOutError with the message followed by `suffix`,
// and the path apart.
[[noreturn]] void throwError(const Error& error, const std::string& suffix = {});

// A value or the Error that kept it from being made.
template <typename T>
class [[nodiscard]] Result {
public:
    // Implicit, so that a function returns its value or an Error as it stands.
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    // Only when ok().
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const T* operator->() const { return &value(); }
    const T& operator*() const& { return value(); }

    // Only when !ok().
    const Error& error() const { return std::get<1>(state_); }
    // Whether it failed this way.
    bool failedWith(Error::Kind kind) const { return !ok() && error().kind() == kind; }

    T valueOr(T fallback) const& { return ok() ? value() : std::move(fallback); }

private:
    std::variant<T, Error> state_;
};

// Done, or the Error that kept it from being done.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }
    // Only when !ok().
    const Error& error() const { return *error_; }
    bool failedWith(Error::Kind kind) const { return !ok() && error().kind() == kind; }

private:
    std::optional<Error> error_;
};

}  // namespace vx
