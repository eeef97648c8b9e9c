// Microsoft's side of the ABI check: WebView2.h read as C, where every interface is a struct of
// function pointers in slot order, so a method's slot is its offset in that struct.
#define CINTERFACE
#include <windows.h>

#include <WebView2.h>

#include "AbiTables.h"

namespace hb::abi {
namespace {

constexpr int kPointer = static_cast<int>(sizeof(void*));

#define HB_ABI_IID(I)
#define HB_ABI_INTERFACE(I, B, N)
#define HB_ABI_METHOD(I, M) {#I, #M, static_cast<int>(offsetof(I##Vtbl, M)) / kPointer},
const TAbiSlot kSlots[] = {
#include "WebView2AbiList.inc"
};
#undef HB_ABI_METHOD
#undef HB_ABI_INTERFACE
#define HB_ABI_METHOD(I, M)
#define HB_ABI_INTERFACE(I, B, N) {#I, #B, 0, static_cast<int>(sizeof(I##Vtbl)) / kPointer},
const TAbiInterface kInterfaces[] = {
#include "WebView2AbiList.inc"
};
#undef HB_ABI_INTERFACE
#undef HB_ABI_IID
#define HB_ABI_INTERFACE(I, B, N)
#define HB_ABI_IID(I) {#I, &IID_##I},
const TAbiIid kIids[] = {
#include "WebView2AbiList.inc"
};

} // namespace

TAbiTables OfficialAbi() {
  return {{kSlots, std::size(kSlots)},
          {kInterfaces, std::size(kInterfaces)},
          {kIids, std::size(kIids)},
          {static_cast<int>(offsetof(IUnknownVtbl, QueryInterface)) / kPointer,
           static_cast<int>(offsetof(IUnknownVtbl, AddRef)) / kPointer,
           static_cast<int>(offsetof(IUnknownVtbl, Release)) / kPointer}};
}

} // namespace hb::abi
