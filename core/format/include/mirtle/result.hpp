// A value or an error, the core's only way of reporting failure.
#pragma once

#include <utility>
#include <variant>

namespace mirtle {

template <typename E>
struct Failure {
  E error;
};

template <typename E>
Failure<E> fail(E error) {
  return Failure<E>{std::move(error)};
}

// Holds either a T or an E; read as `if (!r) return fail(r.error());`.
template <typename T, typename E>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  template <typename F>
  Result(Failure<F> f) : state_(std::in_place_index<1>, std::move(f.error)) {}

  explicit operator bool() const noexcept { return state_.index() == 0; }
  bool has_value() const noexcept { return state_.index() == 0; }

  T& value() & noexcept { return *std::get_if<0>(&state_); }
  const T& value() const& noexcept { return *std::get_if<0>(&state_); }
  T&& value() && noexcept { return std::move(*std::get_if<0>(&state_)); }
  T& operator*() & noexcept { return value(); }
  const T& operator*() const& noexcept { return value(); }
  T* operator->() noexcept { return &value(); }
  const T* operator->() const noexcept { return &value(); }

  E& error() & noexcept { return *std::get_if<1>(&state_); }
  const E& error() const& noexcept { return *std::get_if<1>(&state_); }
  E&& error() && noexcept { return std::move(*std::get_if<1>(&state_)); }

 private:
  std::variant<T, E> state_;
};

// Success without a value, or an error.
struct Ok {};

}  // namespace mirtle
