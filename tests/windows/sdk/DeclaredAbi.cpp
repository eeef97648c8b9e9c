// Our side of the ABI check: the slot the compiler gives each method declared in WebView2Abi.h.
// A pointer to a virtual member function holds, in this compiler's ABI, one plus the byte offset
// of the function's entry in the vtable; the IUnknown row proves that reading on known slots.
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "AbiTables.h"
#include "WebView2Abi.h"

namespace hb::abi {
namespace {

template <class F> int SlotOf(F method) {
  struct {
    uintptr_t Pointer;
    ptrdiff_t Adjust;
  } repr;
  static_assert(sizeof(method) == sizeof(repr), "unexpected pointer-to-member layout");
  std::memcpy(&repr, &method, sizeof repr);
  if (!(repr.Pointer & 1) || repr.Adjust != 0) return -1; // not a virtual slot of a simple base
  return static_cast<int>((repr.Pointer - 1) / sizeof(void*));
}

#define HB_ABI_IID(I)
#define HB_ABI_INTERFACE(I, B, N)
#define HB_ABI_METHOD(I, M) {#I, #M, SlotOf(&hb::wv2::I::M)},
const TAbiSlot kSlots[] = {
#include "WebView2AbiList.inc"
};
#undef HB_ABI_METHOD
#undef HB_ABI_INTERFACE
#define HB_ABI_METHOD(I, M)
#define HB_ABI_INTERFACE(I, B, N) {#I, #B, N, 0},
const TAbiInterface kInterfaces[] = {
#include "WebView2AbiList.inc"
};
#undef HB_ABI_INTERFACE
#undef HB_ABI_IID
#define HB_ABI_INTERFACE(I, B, N)
#define HB_ABI_IID(I) {#I, &hb::wv2::IID_##I},
const TAbiIid kIids[] = {
#include "WebView2AbiList.inc"
};
#undef HB_ABI_IID
#undef HB_ABI_INTERFACE

} // namespace
} // namespace hb::abi

// The base each struct names in the list is really its base for the compiler.
namespace hb::wv2 {
#define HB_ABI_IID(I)
#define HB_ABI_METHOD(I, M)
#define HB_ABI_INTERFACE(I, B, N) static_assert(std::is_base_of_v<B, I>, #I " derives from " #B);
#include "WebView2AbiList.inc"
} // namespace hb::wv2

namespace hb::abi {
TAbiTables DeclaredAbi() {
  return {{kSlots, std::size(kSlots)},
          {kInterfaces, std::size(kInterfaces)},
          {kIids, std::size(kIids)},
          {SlotOf(static_cast<HRESULT (STDMETHODCALLTYPE IUnknown::*)(REFIID, void**)>(
               &IUnknown::QueryInterface)),
           SlotOf(&IUnknown::AddRef), SlotOf(&IUnknown::Release)}};
}
} // namespace hb::abi
