#pragma once
// Test doubles of the core's ports. Each fake lives in its own header; this one gathers them.
#include "FakeSystem.h"
#include "FakeTimer.h"
#include "FakeUiQueue.h"
#if __has_include("FakeBrowser.h")
#include "FakeBrowser.h"
#endif
#if __has_include("RecordingCanvas.h")
#include "RecordingCanvas.h"
#endif
#if __has_include("FakeWindowHost.h")
#include "FakeWindowHost.h"
#endif
