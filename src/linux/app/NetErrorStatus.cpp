#include "NetErrorStatus.h"

#include <string_view>

namespace hb::lin {
namespace {

struct TNetErrorRow {
  std::string_view Name;
  int32_t Status;
};

// Chromium's names on the left; several map onto one WebView2 number.
constexpr TNetErrorRow kNetErrors[] = {
    {"ERR_ABORTED", wsOperationCanceled},
    {"ERR_FAILED", wsUnexpectedError},
    {"ERR_TIMED_OUT", wsTimeout},
    {"ERR_CONNECTION_TIMED_OUT", wsTimeout},
    {"ERR_CONNECTION_CLOSED", wsConnectionAborted},
    {"ERR_CONNECTION_ABORTED", wsConnectionAborted},
    {"ERR_CONNECTION_RESET", wsConnectionReset},
    {"ERR_CONNECTION_REFUSED", wsCannotConnect},
    {"ERR_CONNECTION_FAILED", wsCannotConnect},
    {"ERR_PROXY_CONNECTION_FAILED", wsCannotConnect},
    {"ERR_SOCKET_NOT_CONNECTED", wsCannotConnect},
    {"ERR_ADDRESS_UNREACHABLE", wsServerUnreachable},
    {"ERR_ADDRESS_INVALID", wsServerUnreachable},
    {"ERR_INTERNET_DISCONNECTED", wsDisconnected},
    {"ERR_NETWORK_CHANGED", wsDisconnected},
    {"ERR_NAME_NOT_RESOLVED", wsHostNameNotResolved},
    {"ERR_NAME_RESOLUTION_FAILED", wsHostNameNotResolved},
    {"ERR_EMPTY_RESPONSE", wsErrorHttpInvalidServerResponse},
    {"ERR_INVALID_RESPONSE", wsErrorHttpInvalidServerResponse},
    {"ERR_INVALID_HTTP_RESPONSE", wsErrorHttpInvalidServerResponse},
    {"ERR_RESPONSE_HEADERS_TRUNCATED", wsErrorHttpInvalidServerResponse},
    {"ERR_CONTENT_LENGTH_MISMATCH", wsErrorHttpInvalidServerResponse},
    {"ERR_TOO_MANY_REDIRECTS", wsRedirectFailed},
    {"ERR_UNSAFE_REDIRECT", wsRedirectFailed},
    {"ERR_INVALID_REDIRECT", wsRedirectFailed},
    {"ERR_CERT_COMMON_NAME_INVALID", wsCertificateCommonNameIsIncorrect},
    {"ERR_CERT_DATE_INVALID", wsCertificateExpired},
    {"ERR_CERT_AUTHORITY_INVALID", wsCertificateIsInvalid},
    {"ERR_CERT_INVALID", wsCertificateIsInvalid},
    {"ERR_CERT_WEAK_KEY", wsCertificateIsInvalid},
    {"ERR_CERT_REVOKED", wsCertificateRevoked},
    {"ERR_SSL_CLIENT_AUTH_CERT_NEEDED", wsClientCertificateContainsErrors},
    {"ERR_BAD_SSL_CLIENT_AUTH_CERT", wsClientCertificateContainsErrors},
    {"ERR_PROXY_AUTH_REQUESTED", wsValidProxyAuthenticationRequired},
    {"ERR_PROXY_AUTH_UNSUPPORTED", wsValidProxyAuthenticationRequired},
    {"ERR_INVALID_AUTH_CREDENTIALS", wsValidAuthenticationCredentialsRequired},
};

} // namespace

int32_t WebErrorStatusOf(const std::string& netError) {
  std::string_view name = netError;
  if (name.starts_with("net::")) name.remove_prefix(5);
  for (const auto& row : kNetErrors)
    if (row.Name == name) return row.Status;
  return wsUnknown;
}

int32_t WebErrorStatusOfReason(const std::string& reason) {
  // The reasons are the net error names in camel case: "NameNotResolved", ERR_NAME_NOT_RESOLVED.
  std::string name = "ERR";
  for (char c : reason) {
    if (c >= 'A' && c <= 'Z') {
      name += '_';
      name += c;
    } else if (c >= 'a' && c <= 'z') {
      name += static_cast<char>(c - 'a' + 'A');
    } else {
      return wsUnknown;
    }
  }
  return name.size() > 3 ? WebErrorStatusOf(name) : wsUnknown;
}

} // namespace hb::lin
