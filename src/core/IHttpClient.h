#pragma once
// One HTTP request at a time: the core's only way to the network.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace hb {

// How a request failed before an answer was complete. The first three are the transport failures
// that callers tell apart (the gateway cache pauses itself after them).
enum class THttpError {
  heNone,     // an answer arrived (any status)
  heConnect,  // no connection: refused, unreachable, reset while connecting
  heResolve,  // the host name could not be resolved
  heTimeout,  // connect time-out, no bytes within the response time-out, the total time-out
              // passed, or the answer slower than its minimum rate
  heAborted,  // the body sink refused more bytes (the caller stopped the transfer)
  heOther,    // anything else: malformed answer, broken connection mid-body, bad URL...
};

constexpr bool IsTransportFailure(THttpError e) {
  return e == THttpError::heConnect || e == THttpError::heResolve || e == THttpError::heTimeout;
}

struct THttpRequest {
  std::string Method = "GET";
  std::string Url;
  std::vector<std::pair<std::string, std::string>> Headers;  // sent as given
  std::string Body;                                          // sent when not empty (or for POST)
  int ConnectTimeoutMs = 0;   // 0: the client's default
  int ResponseTimeoutMs = 0;  // longest wait for the next bytes of the answer; 0: default
  // The whole exchange, from the start of Send to the last byte of the answer, so a peer that
  // sends a byte now and then cannot hold it for ever. 0: no overall limit. Past it: heTimeout.
  int TotalTimeoutMs = 0;
  // For transfers too large for a total: the answer must bring at least MinBytesPerSecond on
  // average over every RateWindowMs (counted from the start of Send). 0 in either: no rate rule.
  // Slower: heTimeout.
  int64_t MinBytesPerSecond = 0;
  int RateWindowMs = 0;
  bool FollowRedirects = true;
  std::string UserAgent;                   // empty: the client's default
  std::vector<std::string> ResponseHeaders;  // names of answer headers to read (any case)
  // Body to memory: at most MaxBody bytes are kept; when the answer is longer the transfer
  // stops and Overflow is set, so a larger body is never held whole. -1: no cap.
  int64_t MaxBody = -1;
};

// Receives a streamed body. Returning false stops the transfer (the result is heAborted).
class IHttpSink {
public:
  virtual ~IHttpSink() = default;
  virtual bool Write(const void* data, size_t size) = 0;
};

struct THttpResponse {
  THttpError Error = THttpError::heNone;
  std::string ErrorMessage;  // a worded reason when Error is not heNone
  int Status = 0;            // 0 when no answer arrived
  // The answer headers asked for in ResponseHeaders, in the order asked, with their values
  // (a header that was absent is missing here).
  std::vector<std::pair<std::string, std::string>> Headers;
  std::string Body;           // the kept body (not used when a sink was given)
  bool Overflow = false;      // the body was longer than MaxBody
  int64_t BodyBytes = 0;      // bytes received (kept or streamed)

  bool Ok() const { return Error == THttpError::heNone; }
  // The value of an answer header asked for, compared without regard to case; empty when absent.
  std::string Header(const std::string& name) const;
};

class IHttpClient {
public:
  virtual ~IHttpClient() = default;
  // Sends one request and waits for the answer. Never throws: failures come back in Error.
  // With a sink the body goes to it as it arrives instead of into Body.
  virtual THttpResponse Send(const THttpRequest& request, IHttpSink* sink = nullptr) = 0;
};

// For the clients: the rate rule's test (bytes arrived in elapsedMs below the minimum average)
// and the two worded reasons, so both shells say the same.
bool RateTooLow(int64_t bytes, int64_t elapsedMs, int64_t minBytesPerSecond);
std::string TotalTimeoutText(int totalMs);
std::string SlowAnswerText(int64_t minBytesPerSecond, int windowMs);

// Makes a new client for one job (each background thread gets its own).
using THttpClientFactory = std::function<std::unique_ptr<IHttpClient>()>;

} // namespace hb
