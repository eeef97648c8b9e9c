#pragma once
// A minimal owning COM pointer and a base for the program's own reference-counted COM objects.
#include <unknwn.h>
#include <windows.h>

#include <atomic>
#include <utility>

namespace hb::win {

template <class T> class TComPtr {
 public:
  TComPtr() = default;
  TComPtr(std::nullptr_t) {}
  // Takes over a reference the caller already holds.
  static TComPtr Attach(T* p) {
    TComPtr c;
    c.FPtr = p;
    return c;
  }
  // Adds a reference of its own.
  static TComPtr Share(T* p) {
    if (p) p->AddRef();
    return Attach(p);
  }
  TComPtr(const TComPtr& o) : FPtr(o.FPtr) {
    if (FPtr) FPtr->AddRef();
  }
  TComPtr(TComPtr&& o) noexcept : FPtr(std::exchange(o.FPtr, nullptr)) {}
  TComPtr& operator=(TComPtr o) noexcept {
    std::swap(FPtr, o.FPtr);
    return *this;
  }
  ~TComPtr() { Reset(); }
  void Reset() {
    if (FPtr) std::exchange(FPtr, nullptr)->Release();
  }
  T* Get() const { return FPtr; }
  // Gives up the reference without releasing it.
  T* Detach() { return std::exchange(FPtr, nullptr); }
  T* operator->() const { return FPtr; }
  explicit operator bool() const { return FPtr != nullptr; }
  // For out-parameters: releases what is held and hands out the slot.
  T** Put() {
    Reset();
    return &FPtr;
  }
  template <class U> TComPtr<U> As(const GUID& iid) const {
    TComPtr<U> out;
    if (FPtr && FAILED(FPtr->QueryInterface(iid, reinterpret_cast<void**>(out.Put())))) out.Reset();
    return out;
  }

 private:
  T* FPtr = nullptr;
};

// One COM interface implemented by hand: IUnknown and Iface are what QueryInterface answers to.
template <class Iface> class TComObject : public Iface {
 public:
  explicit TComObject(const GUID& iid) : FIid(iid) {}
  virtual ~TComObject() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, FIid)) {
      *out = static_cast<Iface*>(this);
      this->AddRef();
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

 private:
  GUID FIid;
  std::atomic<ULONG> FRefs{1};
};

} // namespace hb::win
