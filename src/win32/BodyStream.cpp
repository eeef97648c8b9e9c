// A read-only IStream over a body it owns. WebView2 may read, seek, stat and clone it, on any
// thread; each stream keeps its own position under its own lock.
#include "BodyStream.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "shell/GatewayCache.h"

namespace hb::win {
namespace {

// The bytes, shared by a stream and its clones; counted against the cache's budget while any of
// them lives.
struct TBody {
  explicit TBody(std::string bytes) : Bytes(std::move(bytes)) {
    CountGatewayCacheAnswerBytes(static_cast<int64_t>(Bytes.size()));
  }
  ~TBody() { CountGatewayCacheAnswerBytes(-static_cast<int64_t>(Bytes.size())); }
  TBody(const TBody&) = delete;
  TBody& operator=(const TBody&) = delete;
  const std::string Bytes;
};

class TBodyStream final : public IStream {
 public:
  TBodyStream(std::shared_ptr<const TBody> body, ULONGLONG pos)
      : FBody(std::move(body)), FPos(pos) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_ISequentialStream) ||
        IsEqualGUID(riid, IID_IStream)) {
      *out = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++FRefs; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG n = --FRefs;
    if (n == 0) delete this;
    return n;
  }

  HRESULT STDMETHODCALLTYPE Read(void* to, ULONG size, ULONG* read) override {
    if (!to && size) return STG_E_INVALIDPOINTER;
    std::lock_guard<std::mutex> lock(FLock);
    const std::string& bytes = FBody->Bytes;
    ULONG n = 0;
    if (FPos < bytes.size()) n = static_cast<ULONG>(std::min<ULONGLONG>(size, bytes.size() - FPos));
    if (n) std::memcpy(to, bytes.data() + FPos, n);
    FPos += n;
    if (read) *read = n;
    return n == size ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG* written) override {
    if (written) *written = 0;
    return STG_E_ACCESSDENIED;
  }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin,
                                 ULARGE_INTEGER* newPos) override {
    std::lock_guard<std::mutex> lock(FLock);
    LONGLONG base = 0;
    switch (origin) {
    case STREAM_SEEK_SET:
      break;
    case STREAM_SEEK_CUR:
      base = static_cast<LONGLONG>(FPos);
      break;
    case STREAM_SEEK_END:
      base = static_cast<LONGLONG>(FBody->Bytes.size());
      break;
    default:
      return STG_E_INVALIDFUNCTION;
    }
    // Before the start is refused; past the end is allowed and reads nothing, as for any stream.
    if (move.QuadPart < 0 && -move.QuadPart > base) return STG_E_INVALIDFUNCTION;
    FPos = static_cast<ULONGLONG>(base + move.QuadPart);
    if (newPos) newPos->QuadPart = FPos;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream* to, ULARGE_INTEGER size, ULARGE_INTEGER* read,
                                   ULARGE_INTEGER* written) override {
    if (!to) return STG_E_INVALIDPOINTER;
    std::lock_guard<std::mutex> lock(FLock);
    const std::string& bytes = FBody->Bytes;
    ULONGLONG done = 0, put = 0;
    HRESULT hr = S_OK;
    while (done < size.QuadPart && FPos < bytes.size()) {
      const ULONG piece = static_cast<ULONG>(
          std::min<ULONGLONG>({size.QuadPart - done, bytes.size() - FPos, 1u << 20}));
      ULONG n = 0;
      hr = to->Write(bytes.data() + FPos, piece, &n);
      FPos += piece;
      done += piece;
      put += n;
      if (FAILED(hr)) break;
    }
    if (read) read->QuadPart = done;
    if (written) written->QuadPart = put;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
    if (!stat) return STG_E_INVALIDPOINTER;
    *stat = STATSTG{};
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = FBody->Bytes.size();
    stat->grfMode = STGM_READ;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IStream** out) override {
    if (!out) return STG_E_INVALIDPOINTER;
    std::lock_guard<std::mutex> lock(FLock);
    *out = new (std::nothrow) TBodyStream(FBody, FPos);
    return *out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  ~TBodyStream() = default;

  std::shared_ptr<const TBody> FBody;
  std::mutex FLock;
  ULONGLONG FPos;
  std::atomic<ULONG> FRefs{1};
};

} // namespace

IStream* NewBodyStream(std::string body) {
  try {
    return new TBodyStream(std::make_shared<const TBody>(std::move(body)), 0);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

} // namespace hb::win
