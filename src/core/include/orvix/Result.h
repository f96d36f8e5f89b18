#pragma once
// A value or the reason there is none. Every fallible core operation returns one;
// library exceptions (cv::Exception, ICU status codes, filesystem errors) are
// caught where they arise and turned into an Error whose message names the file
// or resource and the reason.

#include <string>
#include <utility>
#include <variant>

namespace orvix {

struct Error {
    std::string message;
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    // Precondition: ok().
    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    // Precondition: !ok().
    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

struct Done {};
using Status = Result<Done>;

}  // namespace orvix
