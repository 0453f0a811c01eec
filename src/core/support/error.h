#pragma once

#include <exception>
#include <string>

namespace ferrytide {

// Base of every error the project throws. `what()` is the description text that the
// user interface shows unchanged; callers that wrap an error add their own prefix.
class Error : public std::exception {
 public:
  explicit Error(std::string description) : description_(std::move(description)) {}

  const char* what() const noexcept override { return description_.c_str(); }
  const std::string& description() const noexcept { return description_; }

 private:
  std::string description_;
};

}  // namespace ferrytide
