#pragma once
// Caught<E>(f): runs f and returns the E it threw, or nullopt (recording a test
// failure) when it threw nothing.
#include <gtest/gtest.h>

#include <optional>

namespace krevo::ftp::test {

template <class E, class F>
std::optional<E> Caught(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e;
  }
  ADD_FAILURE() << "no exception";
  return std::nullopt;
}

}  // namespace krevo::ftp::test
