#pragma once
// The program's own error: a Chinese message for a failure the program words itself. Its kind
// name, "Exception", is what the log and the error dialog show in front of the message.
#include <stdexcept>
#include <string>

namespace hb {

class Exception : public std::runtime_error {
public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  virtual const char* KindName() const noexcept { return "Exception"; }
};

// The kind name shown for any caught exception: "Exception" for ours, a readable name otherwise.
std::string ExceptionKindName(const std::exception& e);

} // namespace hb
