#include <gtest/gtest.h>

#include <windows.h>

#include <shlwapi.h>

#include <string>
#include <vector>

#include "BodyStream.h"
#include "ComPtr.h"
#include "shell/GatewayCache.h"

namespace hb::win {
namespace {

// One step on a stream and what it gave: bytes read, or the position after a seek.
struct TStep {
  enum { skRead, skSeek } Kind;
  LONGLONG Arg = 0;
  DWORD Origin = STREAM_SEEK_SET;
};

std::vector<std::string> Steps(IStream* start, const std::vector<TStep>& steps) {
  std::vector<std::string> seen;
  TComPtr<IStream> s = TComPtr<IStream>::Share(start);
  for (const TStep& step : steps) {
    if (step.Kind == TStep::skRead) {
      std::string buf(static_cast<size_t>(step.Arg), '\0');
      ULONG n = 0;
      HRESULT hr = s->Read(buf.data(), static_cast<ULONG>(buf.size()), &n);
      seen.push_back(SUCCEEDED(hr) ? "read " + buf.substr(0, n) : "read failed");
    } else {
      LARGE_INTEGER move;
      move.QuadPart = step.Arg;
      ULARGE_INTEGER pos{};
      HRESULT hr = s->Seek(move, step.Origin, &pos);
      seen.push_back(SUCCEEDED(hr) ? "at " + std::to_string(pos.QuadPart) : "seek failed");
    }
  }
  STATSTG st{};
  seen.push_back(SUCCEEDED(s->Stat(&st, STATFLAG_NONAME))
                     ? "size " + std::to_string(st.cbSize.QuadPart)
                     : "stat failed");
  return seen;
}

// The body stream WebView2 gets reads, seeks and stats as the system's memory stream over the
// same bytes does (the stream WebView2 was given before). Wine's memory stream cannot be cloned,
// so cloning is checked on its own below.
TEST(BodyStream, ReadsAsTheSystemMemoryStreamDoes) {
  const std::string body = "0123456789abcdefghij";
  using S = TStep;
  const std::vector<TStep> steps = {
      {S::skRead, 4},
      {S::skSeek, 0, STREAM_SEEK_CUR},
      {S::skRead, 6},
      {S::skSeek, -3, STREAM_SEEK_END},
      {S::skRead, 10}, // short: only what is left
      {S::skRead, 5},  // at the end: nothing
      {S::skSeek, 2, STREAM_SEEK_SET},
      {S::skRead, 3},
      {S::skSeek, -1, STREAM_SEEK_SET}, // before the start
      {S::skRead, 2},
      {S::skSeek, 5, STREAM_SEEK_END}, // past the end
      {S::skRead, 2},
  };
  IStream* mem =
      SHCreateMemStream(reinterpret_cast<const BYTE*>(body.data()), static_cast<UINT>(body.size()));
  ASSERT_TRUE(mem);
  const std::vector<std::string> expected = Steps(mem, steps);
  mem->Release();
  IStream* ours = NewBodyStream(body);
  ASSERT_TRUE(ours);
  EXPECT_EQ(Steps(ours, steps), expected);
  ours->Release();

  IStream* empty = NewBodyStream({});
  ASSERT_TRUE(empty);
  EXPECT_EQ(Steps(empty, {{S::skRead, 4}}), (std::vector<std::string>{"read ", "size 0"}));
  empty->Release();
}

// The body counts against the cache's budget while WebView2 holds any stream over it, and only
// then: a clone (which starts where its original stood) keeps it, the last release gives it
// back. Writing is refused.
TEST(BodyStream, HoldsTheBudgetUntilTheLastStreamGoes) {
  const int64_t before = GatewayCacheBytesHeld();
  IStream* s = NewBodyStream(std::string(50000, 'a') + std::string(50000, 'b'));
  ASSERT_TRUE(s);
  EXPECT_EQ(GatewayCacheBytesHeld(), before + 100000);
  LARGE_INTEGER middle;
  middle.QuadPart = 49999;
  ASSERT_EQ(s->Seek(middle, STREAM_SEEK_SET, nullptr), S_OK);
  TComPtr<IStream> clone;
  ASSERT_EQ(s->Clone(clone.Put()), S_OK);
  char two[2] = {};
  ULONG n = 0;
  EXPECT_EQ(clone->Read(two, 2, &n), S_OK);
  EXPECT_EQ(std::string(two, n), "ab");
  TComPtr<ISequentialStream> seq;
  EXPECT_EQ(s->QueryInterface(IID_ISequentialStream, reinterpret_cast<void**>(seq.Put())), S_OK);
  ULONG written = 1;
  EXPECT_TRUE(FAILED(s->Write("x", 1, &written)));
  EXPECT_EQ(written, 0u);
  s->Release();
  seq.Reset();
  EXPECT_EQ(GatewayCacheBytesHeld(), before + 100000);
  clone.Reset();
  EXPECT_EQ(GatewayCacheBytesHeld(), before);
}

} // namespace
} // namespace hb::win
