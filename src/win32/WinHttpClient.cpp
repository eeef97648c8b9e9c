// WinHTTP behind IHttpClient. Depends on winhttp.dll only.
#include "WinHttpClient.h"

#include <windows.h>
#include <winhttp.h>
#include <winsock2.h>

#include <algorithm>
#include <memory>

#include "WinText.h"

namespace hb {

namespace win {
namespace {

constexpr int kDefaultTimeoutMs = 30000;
constexpr const wchar_t* kDefaultUserAgent = L"hallBoard";

struct TInternetCloser {
  void operator()(HINTERNET h) const { WinHttpCloseHandle(h); }
};
using THandle = std::unique_ptr<void, TInternetCloser>;

std::string Worded(const char* step, DWORD code) {
  return std::string(step) + " 失败（WinHTTP " + std::to_string(code) + "）";
}

THttpResponse Fail(THttpResponse r, const char* step, DWORD code, bool answered) {
  r.Error = ClassifyWinHttpError(code, answered);
  r.ErrorMessage = Worded(step, code);
  return r;
}

bool ValidUtf8(const std::string& s) {
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()),
                             nullptr, 0) > 0;
}

// WinHTTP widens header bytes one by one (or through the ANSI code page); servers that send
// UTF-8 in a header get their bytes back here.
std::string HeaderText(const std::wstring& value) {
  if (value.empty()) return {};
  if (std::all_of(value.begin(), value.end(), [](wchar_t c) { return c < 0x100; })) {
    std::string bytes(value.begin(), value.end());
    if (ValidUtf8(bytes)) return bytes;
  }
  BOOL lossy = FALSE;
  int n = WideCharToMultiByte(CP_ACP, 0, value.data(), static_cast<int>(value.size()), nullptr, 0,
                              nullptr, &lossy);
  if (n > 0 && !lossy) {
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, value.data(), static_cast<int>(value.size()), bytes.data(), n,
                        nullptr, nullptr);
    if (ValidUtf8(bytes)) return bytes;
  }
  return Utf8(value);
}

bool QueryHeader(HINTERNET req, const std::wstring& name, std::wstring& value) {
  DWORD bytes = 0;
  WinHttpQueryHeaders(req, WINHTTP_QUERY_CUSTOM, name.c_str(), WINHTTP_NO_OUTPUT_BUFFER, &bytes,
                      WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return false;
  std::wstring buf(bytes / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(req, WINHTTP_QUERY_CUSTOM, name.c_str(), buf.data(), &bytes,
                           WINHTTP_NO_HEADER_INDEX))
    return false;
  value.assign(buf.data(), bytes / sizeof(wchar_t));
  return true;
}

} // namespace

THttpError ClassifyWinHttpError(unsigned long code, bool answered) {
  // Some WinHTTP implementations pass the socket layer's code through unchanged; those count the
  // same as their WinHTTP equivalents.
  switch (code) {
  case ERROR_WINHTTP_NAME_NOT_RESOLVED:
  case WSAHOST_NOT_FOUND:
    return THttpError::heResolve;
  case ERROR_WINHTTP_TIMEOUT:
  case WSAETIMEDOUT:
    return THttpError::heTimeout;
  case ERROR_WINHTTP_CANNOT_CONNECT:
  case WSAECONNREFUSED:
  case WSAENETUNREACH:
  case WSAEHOSTUNREACH:
    return THttpError::heConnect;
  case ERROR_WINHTTP_CONNECTION_ERROR:
    return answered ? THttpError::heOther : THttpError::heConnect;
  default:
    return THttpError::heOther;
  }
}

THttpResponse TWinHttpClient::Send(const THttpRequest& request, IHttpSink* sink) {
  THttpResponse r;
  std::wstring url = Wide(request.Url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  parts.dwSchemeLength = static_cast<DWORD>(-1);
  if (url.empty() || !WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
      (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) ||
      parts.dwHostNameLength == 0) {
    r.Error = THttpError::heOther;
    r.ErrorMessage = "地址无效：" + request.Url;
    return r;
  }
  std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (path.empty()) path = L"/";

  std::wstring agent = request.UserAgent.empty() ? kDefaultUserAgent : Wide(request.UserAgent);
  THandle session(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                              WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return Fail(r, "WinHttpOpen", GetLastError(), false);
  int connectMs = request.ConnectTimeoutMs > 0 ? request.ConnectTimeoutMs : kDefaultTimeoutMs;
  int receiveMs = request.ResponseTimeoutMs > 0 ? request.ResponseTimeoutMs : kDefaultTimeoutMs;
  // WinHTTP's own time-outs bound each wait only; the overall deadline and the rate rule are
  // checked around every blocking call instead, and each wait is cut to what time is left.
  const ULONGLONG start = GetTickCount64();
  const int total = request.TotalTimeoutMs;
  auto used = [&] { return static_cast<int64_t>(GetTickCount64() - start); };
  auto waitFor = [&](int ms) {
    return total > 0 ? static_cast<int>(std::max<int64_t>(1, std::min<int64_t>(ms, total - used())))
                     : ms;
  };
  auto overdue = [&] { return total > 0 && used() >= total; };
  auto totalFailure = [&](THttpResponse out) {
    out.Error = THttpError::heTimeout;
    out.ErrorMessage = TotalTimeoutText(total);
    return out;
  };
  connectMs = waitFor(connectMs);
  const int firstReceiveMs = waitFor(receiveMs);
  // Name resolution counts against the connect time-out: an unanswered DNS server must not hold
  // a job longer than an unreachable host would.
  if (!WinHttpSetTimeouts(session.get(), connectMs, connectMs, waitFor(receiveMs), firstReceiveMs))
    return Fail(r, "WinHttpSetTimeouts", GetLastError(), false);
  // The wait for the status line and headers has its own time-out; it follows the same rule.
  DWORD headersMs = static_cast<DWORD>(firstReceiveMs);
  WinHttpSetOption(session.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headersMs,
                   sizeof headersMs);

  THandle connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
  if (!connection) return Fail(r, "WinHttpConnect", GetLastError(), false);
  DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  std::wstring method = Wide(request.Method.empty() ? "GET" : request.Method);
  THandle req(WinHttpOpenRequest(connection.get(), method.c_str(), path.c_str(), nullptr,
                                 WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
  if (!req) return Fail(r, "WinHttpOpenRequest", GetLastError(), false);

  DWORD disable = WINHTTP_DISABLE_COOKIES;
  if (!WinHttpSetOption(req.get(), WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof disable))
    return Fail(r, "WinHttpSetOption(cookies)", GetLastError(), false);
  DWORD policy = request.FollowRedirects ? WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP
                                         : WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  if (!WinHttpSetOption(req.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy))
    return Fail(r, "WinHttpSetOption(redirect)", GetLastError(), false);

  std::wstring headers;
  for (const auto& [name, value] : request.Headers) headers += Wide(name + ": " + value + "\r\n");
  if (!headers.empty() &&
      !WinHttpAddRequestHeaders(req.get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                                WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
    return Fail(r, "WinHttpAddRequestHeaders", GetLastError(), false);

  void* body =
      request.Body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(request.Body.data());
  DWORD bodyLen = static_cast<DWORD>(request.Body.size());
  if (!WinHttpSendRequest(req.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, body, bodyLen, bodyLen, 0)) {
    const DWORD code = GetLastError();
    return overdue() ? totalFailure(r) : Fail(r, "WinHttpSendRequest", code, false);
  }
  if (!WinHttpReceiveResponse(req.get(), nullptr)) {
    const DWORD code = GetLastError();
    return overdue() ? totalFailure(r) : Fail(r, "WinHttpReceiveResponse", code, false);
  }
  if (overdue()) return totalFailure(r);

  DWORD status = 0, size = sizeof status;
  if (!WinHttpQueryHeaders(req.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
    return Fail(r, "WinHttpQueryHeaders", GetLastError(), true);
  r.Status = static_cast<int>(status);
  for (const auto& name : request.ResponseHeaders) {
    std::wstring value;
    if (QueryHeader(req.get(), Wide(name), value)) r.Headers.emplace_back(name, HeaderText(value));
  }

  const bool rateRule = request.MinBytesPerSecond > 0 && request.RateWindowMs > 0;
  ULONGLONG windowStart = start;
  int64_t windowBytes = 0;
  std::string chunk;
  for (;;) {
    if (total > 0) {
      if (overdue()) return totalFailure(r);
      DWORD waitMs = static_cast<DWORD>(waitFor(receiveMs));
      WinHttpSetOption(req.get(), WINHTTP_OPTION_RECEIVE_TIMEOUT, &waitMs, sizeof waitMs);
    }
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(req.get(), &available)) {
      const DWORD code = GetLastError();
      return overdue() ? totalFailure(r) : Fail(r, "WinHttpQueryDataAvailable", code, true);
    }
    if (available == 0) break;
    chunk.resize(available);
    DWORD read = 0;
    if (!WinHttpReadData(req.get(), chunk.data(), available, &read))
      return Fail(r, "WinHttpReadData", GetLastError(), true);
    if (read == 0) break;
    r.BodyBytes += read;
    if (rateRule) {
      const ULONGLONG now = GetTickCount64();
      const auto inWindow = static_cast<int64_t>(now - windowStart);
      if (inWindow >= request.RateWindowMs) {
        if (RateTooLow(r.BodyBytes - windowBytes, inWindow, request.MinBytesPerSecond)) {
          r.Error = THttpError::heTimeout;
          r.ErrorMessage = SlowAnswerText(request.MinBytesPerSecond, request.RateWindowMs);
          return r;
        }
        windowStart = now;
        windowBytes = r.BodyBytes;
      }
    }
    if (sink) {
      if (!sink->Write(chunk.data(), read)) {
        r.Error = THttpError::heAborted;
        r.ErrorMessage = "下载已中止";
        return r;
      }
      continue;
    }
    if (request.MaxBody >= 0 &&
        static_cast<int64_t>(r.Body.size()) + static_cast<int64_t>(read) > request.MaxBody) {
      // Keep what fits and stop reading: a larger body is never held whole.
      r.Body.append(chunk.data(), static_cast<size_t>(request.MaxBody) - r.Body.size());
      r.Overflow = true;
      return r;
    }
    r.Body.append(chunk.data(), read);
  }
  return r;
}

} // namespace win
} // namespace hb
