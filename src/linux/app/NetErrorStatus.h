#pragma once
// Chromium reports a failed load as a net error name ("net::ERR_CONNECTION_REFUSED"); the
// display window judges outcomes by WebView2's web-error-status numbers. This is the one table
// between the two.
#include <cstdint>
#include <string>

namespace hb::lin {

// WebView2's COREWEBVIEW2_WEB_ERROR_STATUS numbers.
enum TWebErrorStatus : int32_t {
  wsUnknown = 0,
  wsCertificateCommonNameIsIncorrect = 1,
  wsCertificateExpired = 2,
  wsClientCertificateContainsErrors = 3,
  wsCertificateRevoked = 4,
  wsCertificateIsInvalid = 5,
  wsServerUnreachable = 6,
  wsTimeout = 7,
  wsErrorHttpInvalidServerResponse = 8,
  wsConnectionAborted = 9,
  wsConnectionReset = 10,
  wsDisconnected = 11,
  wsCannotConnect = 12,
  wsHostNameNotResolved = 13,
  wsOperationCanceled = 14,
  wsRedirectFailed = 15,
  wsUnexpectedError = 16,
  wsValidAuthenticationCredentialsRequired = 17,
  wsValidProxyAuthenticationRequired = 18,
};

// The status for a net error text, with or without the "net::" prefix; unknown names (and the
// empty text) give wsUnknown.
int32_t WebErrorStatusOf(const std::string& netError);

// The status for the debugging protocol's coarser error reason of an intercepted response
// ("ConnectionRefused" for net::ERR_CONNECTION_REFUSED; "Failed" stands for every net error the
// protocol has no name for). Unknown reasons give wsUnknown.
int32_t WebErrorStatusOfReason(const std::string& reason);

} // namespace hb::lin
