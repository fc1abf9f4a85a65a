// Errors as small values (domain, code, message) and a Result type for
// operations that either yield a value or fail with one of them.
#pragma once

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace meridane {

struct Error {
    std::string domain;
    int code = 0;
    /// Human-readable text; it becomes a file's failure text as it stands.
    std::string message;

    bool operator==(const Error&) const = default;
};

/// Value for operations that succeed without producing anything.
struct Done {
    bool operator==(const Done&) const = default;
};

template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::move(value)) {}          // NOLINT(google-explicit-constructor)
    Result(Error error) : state_(std::move(error)) {}      // NOLINT(google-explicit-constructor)

    bool ok() const { return std::holds_alternative<T>(state_); }
    explicit operator bool() const { return ok(); }

    const T& value() const& { assert(ok()); return std::get<T>(state_); }
    T& value() & { assert(ok()); return std::get<T>(state_); }
    T&& value() && { assert(ok()); return std::get<T>(std::move(state_)); }
    const T* operator->() const { return &value(); }
    T* operator->() { return &value(); }

    const Error& error() const { assert(!ok()); return std::get<Error>(state_); }

private:
    std::variant<T, Error> state_;
};

using Status = Result<Done>;

}  // namespace meridane
