#pragma once
// The stream a cache answer's body is handed to WebView2 in. It owns the body the core gave up
// (no copy is made), shares it with its clones, and counts it against the gateway cache's budget
// until WebView2 has let go of every stream over it: answers the browser has not read yet then
// make the cache step aside instead of piling up in the program.
#include <objidl.h>

#include <string>

namespace hb::win {

// A read-only stream over body, with one reference for the caller; nullptr when out of memory.
IStream* NewBodyStream(std::string body);

} // namespace hb::win
