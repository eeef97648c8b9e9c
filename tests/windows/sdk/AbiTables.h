#pragma once
// The two halves of the ABI check meet here: one translation unit reads slots and ids out of
// Microsoft's WebView2.h (its C-style vtable structs), the other out of our WebView2Abi.h (what
// the compiler made of our C++ declarations). Both expand the same generated list of names.
#include <guiddef.h>

#include <cstddef>
#include <iterator>

namespace hb::abi {

struct TAbiSlot {
  const char* Interface;
  const char* Method;
  int Slot; // index into the vtable; QueryInterface is 0
};

struct TAbiInterface {
  const char* Name;
  const char* Base;
  int Added; // methods the interface adds to its base (ours, counted from the list)
  int Slots; // every slot, IUnknown's three included (official: the vtable struct's size)
};

struct TAbiIid {
  const char* Name;
  const GUID* Iid;
};

template <class T> struct TSpan {
  const T* Items;
  size_t Count;
  const T* begin() const { return Items; }
  const T* end() const { return Items + Count; }
};

struct TAbiTables {
  TSpan<TAbiSlot> Slots;
  TSpan<TAbiInterface> Interfaces;
  TSpan<TAbiIid> Iids;
  int UnknownSlots[3]; // QueryInterface, AddRef, Release: proves the slot reading itself
};

TAbiTables OfficialAbi();
TAbiTables DeclaredAbi();

} // namespace hb::abi
