#include "platform/D3D8GL.h"
namespace {
class TStub : public ID3D8Runtime {
public:
  bool RuntimeLoaded() override { return false; }
  bool DebugRuntimeLoadable() override { return false; }
  IDirect3D8* Direct3DCreate8(UINT) override { return nullptr; }
  bool EnumDisplayDevices(const char*, DWORD, DISPLAY_DEVICE*) override { return false; }
  bool EnumDisplaySettings(const char*, DWORD, DEVMODE*) override { return false; }
  HMONITOR MonitorFromRect(const RECT*, DWORD) override { return 0; }
};
}
ID3D8Runtime& D3D8GLRuntime() { static TStub s; return s; }
