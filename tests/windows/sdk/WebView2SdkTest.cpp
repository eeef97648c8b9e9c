// Every interface id and every method slot declared in WebView2Abi.h against Microsoft's
// WebView2.h. A mismatch here is a program that calls the wrong function of the runtime, or a
// runtime that never finds our handlers.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

#include "AbiTables.h"

namespace hb::abi {
namespace {

std::string Text(const GUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

TEST(WebView2Sdk, BothHalvesReadSlotsTheSameWay) {
  TAbiTables ours = DeclaredAbi(), theirs = OfficialAbi();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ours.UnknownSlots[i], i);
    EXPECT_EQ(theirs.UnknownSlots[i], i);
  }
  EXPECT_EQ(ours.Slots.Count, theirs.Slots.Count);
  EXPECT_GT(ours.Slots.Count, 100u); // the generated list is really there
}

TEST(WebView2Sdk, EveryInterfaceIdIsTheOfficialOne) {
  TAbiTables ours = DeclaredAbi(), theirs = OfficialAbi();
  ASSERT_EQ(ours.Iids.Count, theirs.Iids.Count);
  for (size_t i = 0; i < ours.Iids.Count; ++i)
    EXPECT_EQ(Text(*ours.Iids.Items[i].Iid), Text(*theirs.Iids.Items[i].Iid))
        << "IID_" << ours.Iids.Items[i].Name;
}

TEST(WebView2Sdk, EveryMethodSitsInItsOfficialSlot) {
  TAbiTables ours = DeclaredAbi(), theirs = OfficialAbi();
  ASSERT_EQ(ours.Slots.Count, theirs.Slots.Count);
  for (size_t i = 0; i < ours.Slots.Count; ++i) {
    const TAbiSlot &a = ours.Slots.Items[i], &b = theirs.Slots.Items[i];
    EXPECT_GE(a.Slot, 3) << a.Interface << "::" << a.Method;
    EXPECT_EQ(a.Slot, b.Slot) << a.Interface << "::" << a.Method;
  }
}

// Every slot of each interface is declared, the last ones too: the runtime calls any slot of a
// handler we implement, and our objects' vtables must be as long as the official ones.
TEST(WebView2Sdk, EveryInterfaceDeclaresAllItsSlots) {
  TAbiTables ours = DeclaredAbi(), theirs = OfficialAbi();
  ASSERT_EQ(ours.Interfaces.Count, theirs.Interfaces.Count);
  std::map<std::string, int> slots{{"IUnknown", 3}};
  for (size_t i = 0; i < ours.Interfaces.Count; ++i) {
    const TAbiInterface& a = ours.Interfaces.Items[i];
    auto base = slots.find(a.Base);
    ASSERT_NE(base, slots.end()) << a.Name << ": base " << a.Base << " declared after it";
    int total = base->second + a.Added;
    slots[a.Name] = total;
    EXPECT_EQ(total, theirs.Interfaces.Items[i].Slots) << a.Name;
  }
  // Within each interface the highest slot we declare is its last.
  std::map<std::string, int> highest;
  for (const TAbiSlot& s : ours.Slots)
    highest[s.Interface] = std::max(highest[s.Interface], s.Slot);
  for (const auto& [name, top] : highest) EXPECT_EQ(top + 1, slots[name]) << name;
}

} // namespace
} // namespace hb::abi
