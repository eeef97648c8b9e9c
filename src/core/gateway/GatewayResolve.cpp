// Placeholder until the resolution is written; replaced by its real implementation.
#include "GatewayResolve.h"

#include "Exception.h"

namespace hb {
TResolveResult RunResolution(const TResolveInputs&, IHttpClient&) { throw Exception("未实现"); }
std::string ReduceEntryUrl(const std::string&) { throw Exception("未实现"); }
std::string NoGatewayTitle() { return "还没有填写网关地址"; }
std::string NoGatewayDetail(const std::string&) { return {}; }
} // namespace hb
