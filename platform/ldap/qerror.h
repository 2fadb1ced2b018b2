#pragma once

#include <string>

namespace kvaro {

// Renders a directory result code as text, for the "Error: %s" part of messages.
class QError {
 public:
  explicit QError(int code) : code_(code) {}
  void Print(std::string& out) const;
  std::string Text() const;
  int code() const { return code_; }

 private:
  int code_;
};

}  // namespace kvaro
