#pragma once

#include <cassert>
#include <cerrno>
#include <optional>
#include <string>
#include <utility>

// What an operation on files or data returns when it can fail. error() is an errno value:
// 0 for success, else why it failed (each function's header lists its codes). detail() is
// empty unless the function says what it carries there: words for a user, or the path
// concerned. Functions that also give a value return IoResultOf<T>, which holds the value
// exactly when it succeeded. Cheap to return; no exceptions. Any thread.
class [[nodiscard]] IoResult {
public:
    IoResult() = default;  // success
    // `error` 0 is success, whatever the detail.
    explicit IoResult(int error, std::string detail = {})
        : error_(error), detail_(std::move(detail)) {}

    bool ok() const { return error_ == 0; }
    explicit operator bool() const { return ok(); }
    int error() const { return error_; }
    const std::string& detail() const { return detail_; }

private:
    int error_ = 0;
    std::string detail_;
};

// An IoResult that carries a value on success. Made from the value (success) or from a
// failed IoResult.
template <typename T>
class [[nodiscard]] IoResultOf {
public:
    // Implicit, so that a function returns either as it stands.
    IoResultOf(T value) : value_(std::move(value)) {}
    // A success without a value is a fault of the caller: it reads as EINVAL, never as a
    // value that is not there.
    IoResultOf(IoResult failure) : status_(std::move(failure)) {
        assert(!status_.ok() && "a result without a value must be a failure");
        if (status_.ok()) {
            status_ = IoResult(EINVAL);
        }
    }

    bool ok() const { return status_.ok(); }
    explicit operator bool() const { return ok(); }
    int error() const { return status_.error(); }
    const std::string& detail() const { return status_.detail(); }
    // The outcome without the value, to pass a failure on.
    const IoResult& status() const { return status_; }

    // The value; only when ok().
    T& value() & {
        assert(value_);
        return *value_;
    }
    const T& value() const& {
        assert(value_);
        return *value_;
    }
    T&& value() && {
        assert(value_);
        return std::move(*value_);
    }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

private:
    IoResult status_;
    std::optional<T> value_;
};
