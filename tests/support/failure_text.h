#pragma once

#include <exception>
#include <string>

namespace ferrytide::testing {

// The what() of a caught failure ("unknown exception" for one that is no std::exception);
// empty when there was none.
inline std::string failureText(const std::exception_ptr& failure) {
  if (!failure) return {};
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "unknown exception";
  }
}

}  // namespace ferrytide::testing
