#include "Exception.h"

#include <new>
#include <system_error>
#include <typeinfo>

namespace hb {

std::string ExceptionKindName(const std::exception& e) {
  if (auto* own = dynamic_cast<const Exception*>(&e)) return own->KindName();
  if (dynamic_cast<const std::bad_alloc*>(&e)) return "EOutOfMemory";
  if (dynamic_cast<const std::out_of_range*>(&e)) return "ERangeError";
  if (dynamic_cast<const std::invalid_argument*>(&e)) return "EArgumentError";
  if (dynamic_cast<const std::system_error*>(&e)) return "EOSError";
  return "Exception";
}

} // namespace hb
