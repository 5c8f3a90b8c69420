#pragma once
// Shared set-up for the Direct3D layer tests on the fake runtime: a trace log in the test's
// folder, a fake with one capable adapter, and helpers that build the enumeration, a device and
// small bitmaps.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/Bitmap.h"
#include "base/Classes.h"
#include "engine/tools.h"
#include "engine/zrD3D.h"
#include "platform/D3D8Fake.h"
#include "support/TestSupport.h"

class D3DFakeTest : public ::testing::Test {
protected:
  void SetUp() override {
    LogName = TestDir() + "qv.log";
    SetLogFile(LogName);
    Fake.Adapters.push_back(TFakeD3D8::CapableAdapter());
    Fake.Displays.push_back(TFakeDisplay{});
  }
  void TearDown() override {
    Dev.reset();
    D3D.reset();
    SetLogFile("");
  }

  std::vector<std::string> LogLines() { return FileLines(LogName); }
  bool LogHas(const std::string& line) { return FileHasLine(LogName, line); }
  bool LogHasPrefix(const std::string& prefix) { return FileHasLinePrefix(LogName, prefix); }
  void ClearLog() { WriteAll(LogName, ""); }

  TzrD3D8& Enumerate() {
    D3D = std::make_unique<TzrD3D8>();
    D3D->EnumAdapters();
    return *D3D;
  }
  // A device on the first adapter's hardware device at 800 x 600.
  TzrD3Device8& MakeDevice(D3DFORMAT format = D3DFMT_X8R8G8B8, bool windowed = false) {
    if (!D3D) Enumerate();
    TzrD3DDeviceInfo* info = D3D->GetAdapter(0)->GetDevice(0);
    TzrD3DMode mode{800, 600, format, D3DCREATE_SOFTWARE_VERTEXPROCESSING, 0};
    Dev = std::make_unique<TzrD3Device8>(info, nullptr, nullptr, windowed, mode);
    Dev->LostRetryDelayMs = 0;
    return *Dev;
  }

  // A 32-bit bitmap filled by f(x, y) -> 0x00RRGGBB.
  template <class F>
  static TBitmap Image(int w, int h, F f) {
    TBitmap b;
    b.SetPixelFormat(pf32bit);
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) b.SetPixelRGB(x, y, f(x, y));
    return b;
  }
  static TBitmap Solid(int w, int h, uint32_t rgb) {
    return Image(w, h, [rgb](int, int) { return rgb; });
  }
  // A texture registered with the device (index = its position).
  TzrD3DTexture8* MakeTexture(int size = 64, uint32_t rgb = 0xFFFFFF) {
    TBitmap img = Solid(size, size, rgb);
    D3DFORMAT f = D3DFMT_A8R8G8B8;
    return new TzrD3DTexture8(Dev.get(), nullptr, &img, nullptr, 0, 0, 0, 1, &f);
  }

  std::vector<const TFakeD3DCall*> Calls(const std::string& name) {
    std::vector<const TFakeD3DCall*> r;
    for (const TFakeD3DCall& c : Fake.Calls)
      if (c.Name == name) r.push_back(&c);
    return r;
  }

  std::string LogName;
  TFakeD3D8 Fake;
  std::unique_ptr<TzrD3D8> D3D;
  std::unique_ptr<TzrD3Device8> Dev;
};
