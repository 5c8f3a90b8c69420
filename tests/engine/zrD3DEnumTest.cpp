// Result checks, error texts, format names and the adapter/device/mode enumeration.
#include "D3DTestSupport.h"

namespace {

using Errors = D3DFakeTest;

TEST_F(Errors, SuccessfulResultsLogAndRaiseNothing) {
  for (HRESULT ok : {0, 1, 0x7FFFFFFF})
    for (uint32_t own : {0u, 0x8100000Au}) EXPECT_NO_THROW(CheckD3DResult(ok, own, "ctx"));
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(Errors, FailureWithOwnCodeLogsBothTextsAndKeepsTheResult) {
  try {
    CheckD3DResult(D3DERR_INVALIDCALL, 0x8100000A, "");
    FAIL();
  } catch (const EDirect3DError& e) {
    EXPECT_EQ(e.Message, "Failed to create device");
    EXPECT_EQ(e.ErrorCode, 0x8876086Cu);
  }
  EXPECT_EQ(LogLines(), std::vector<std::string>{"* Msg 8100000A: D3D $8876086C: " +
                                                 D3DResultDescription(D3DERR_INVALIDCALL) +
                                                 " - Failed to create device "});
}

TEST_F(Errors, FailureWithoutOwnCodeLogsTheResultDescription) {
  try {
    CheckD3DResult(D3DERR_DEVICELOST, 0, "present");
    FAIL();
  } catch (const EDirect3DError& e) {
    EXPECT_EQ(e.Message, "The device is lost and cannot be restored at the current time, so "
                         "rendering is not possible.");
    EXPECT_EQ(e.ErrorCode, 0x88760868u);
  }
  EXPECT_EQ(LogLines(), std::vector<std::string>{
                            "* Msg 88760868: The device is lost and cannot be restored at the "
                            "current time, so rendering is not possible. present"});
  EXPECT_EQ(D3DResultDescription(int32_t(0x88760001u)), "Unknown Error");
}

TEST_F(Errors, RaiseD3DErrorRaisesPlainExceptionWithOwnText) {
  try {
    RaiseD3DError(0x81000004, "tex");
    FAIL();
  } catch (const EDirect3DError&) {
    FAIL() << "own codes raise the plain exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "Image stretching relation is not an integer value");
  }
  EXPECT_THROW(RaiseD3DError(0x81000007), Exception);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "* Msg 81000004: Image stretching relation is not an integer value (tex)",
                            "* Msg 81000007: Could not find any compatible Direct3D adapters."}));
}

TEST_F(Errors, ErrorTextsAndFormatNames) {
  EXPECT_EQ(D3DErrorText(0x81000013), "Unrecognized Error");
  EXPECT_EQ(D3DErrorText(0), "Unrecognized Error");
  EXPECT_EQ(D3DErrorText(0x81000014),
            "DirectX 8 Runtime not installed, you have DirectX 8 SDK installed instead.");
  EXPECT_EQ(D3DErrorText(0x8100000B), "Too many simultaneous quads on end scene");
  struct {
    uint32_t f;
    const char* name;
  } names[] = {{0, "Unknown"},   {72, "Invalid"},        {20, "R8G8B8"},     {30, "X4R4G4B4"},
               {29, "A8R3G3B2"}, {65, "W11V11U10"},      {79, "D24X4S4"},    {102, "INDEX32"},
               {31, "Invalid"},  {0x7FFFFFFF, "FORCE_DWORD"}, {D3DFMT_DXT1, "DXT1"},
               {D3DFMT_YUY2, "YUY2"}, {0x31545844, "DXT1"}};
  for (auto& n : names) EXPECT_EQ(FormatName(n.f), n.name) << n.f;
}

using Enumeration = D3DFakeTest;

TEST_F(Enumeration, MissingRuntimeOrFailedCreateRaises) {
  struct Case {
    bool loaded, debug, createFails;
    const char* text;
  } cases[] = {
      {false, false, false, "DirectX 8 Runtime not installed"},
      {false, true, false,
       "DirectX 8 Runtime not installed, you have DirectX 8 SDK installed instead."},
      {true, false, true, "Could not Create Direct3D8!"},
  };
  for (const Case& c : cases) {
    Fake.Loaded = c.loaded;
    Fake.DebugLoadable = c.debug;
    Fake.CreateFails = c.createFails;
    try {
      TzrD3D8 d3d;
      FAIL() << c.text;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message, c.text);
    }
  }
  EXPECT_TRUE(LogHas("* Checkpoint: Create Direct3D 8"));
  EXPECT_EQ(Fake.LiveObjects(), 0);
}

TEST_F(Enumeration, LogsAdapterDisplayDeviceAndFormats) {
  Fake.Adapters[0].TextureFormats = {D3DFMT_A8R8G8B8, D3DFMT_A4R4G4B4, D3DFMT_R5G6B5};
  Enumerate();
  const std::string dx = "Adapter Info: Driver=fake.drv / Description=Fake Adapter / Product=6 / "
                         "Version=14 / SubVersion=10 / Build=4000 / VendorId=4660 / DeviceId=22136"
                         " / SubSysId=39612 / Revision=2 / DeviceIdentifier={01234567-89AB-CDEF-"
                         "0001-020304050607} / WHQLLevel=1";
  EXPECT_TRUE(LogHas("* Info: " + dx));
  EXPECT_TRUE(LogHas("* Info: Display Mode: Width=1024 Height=768 Format=X8R8G8B8 ModeCount=12"));
  EXPECT_TRUE(LogHas("* Info: Device capabilities: CursorCaps=00000000 / Caps=00000000 / "
                     "Caps2=00080000 / Caps3=00000000 / DevCaps=00000400 / PrimitiveMiscCaps="
                     "00000070 / RasterCaps=00000000 / ZCmpCaps=00000000 / TextureCaps=00000004 / "
                     "TextureFilterCaps=03000300 / MaxTextureWidth=2048 / MaxTextureHeight=2048 / "
                     "MaxTextureAspectRation=2048 / MaxVertexW=10000000000"));
  EXPECT_TRUE(LogHas("* Info: Back Buffer Format: X8R8G8B8 / Texture Formats: A8R8G8B8, R5G6B5, "
                     "A4R4G4B4, "));
  EXPECT_TRUE(LogHas("* Info: Back Buffer Format: R5G6B5 / Texture Formats: A8R8G8B8, R5G6B5, "
                     "A4R4G4B4, "));
  EXPECT_TRUE(LogHas("* Info: Can do Windowed=1"));
  EXPECT_TRUE(LogHas("* Info: Monitor: Name=Fake Monitor / Device=Fake Display Adapter"));
  // Refresh rates collapse: 3 sizes x 2 formats.
  TzrD3DDeviceInfo* dev = D3D->GetAdapter(0)->GetDevice(0);
  EXPECT_EQ(dev->GetModeCount(), 6);
  EXPECT_EQ(dev->DeviceType, D3DDEVTYPE_HAL);
  EXPECT_EQ(D3D->GetAdapter(0)->MonitorInfo, D3D->GetMonitor(0));
}

TEST_F(Enumeration, ModesSortFormatDescendingThenSizeAfterTheModeEvent) {
  TzrD3D8& d3d = *(D3D = std::make_unique<TzrD3D8>());
  std::vector<std::string> asked;
  d3d.OnConfirmMode = [&](const D3DDISPLAYMODE& m, bool& accept) {
    asked.push_back(std::to_string(m.Width) + "x" + std::to_string(m.Height) + "@" +
                    std::to_string(m.RefreshRate) + "/" + std::to_string(m.Format));
    accept = m.Width == 800 && m.Height == 600;
  };
  d3d.EnumAdapters();
  TzrD3DDeviceInfo* dev = d3d.GetAdapter(0)->GetDevice(0);
  ASSERT_EQ(dev->GetModeCount(), 2);
  TzrD3DMode m0, m1;
  dev->GetMode(0, m0);
  dev->GetMode(1, m1);
  EXPECT_EQ(m0, (TzrD3DMode{800, 600, D3DFMT_R5G6B5, 0x20, 0}));
  EXPECT_EQ(m1, (TzrD3DMode{800, 600, D3DFMT_X8R8G8B8, 0x20, 0}));
  // Only modes already listed count as seen: rejected sizes are asked again at the next rate.
  EXPECT_EQ(asked.size(), 10u);
  EXPECT_EQ(asked[0], "640x480@60/22");
  EXPECT_THROW(dev->GetMode(2, m0), EListError);
}

TEST_F(Enumeration, SmallModesAreDroppedBeforeTheEvent) {
  Fake.Adapters[0].Modes = {{512, 384, 60, 22}, {639, 480, 60, 22}, {640, 399, 60, 22},
                            {640, 400, 60, 22}, {800, 600, 60, 22}};
  TzrD3D8& d3d = *(D3D = std::make_unique<TzrD3D8>());
  std::vector<UINT> asked;
  d3d.OnConfirmMode = [&](const D3DDISPLAYMODE& m, bool&) { asked.push_back(m.Width * 1000 + m.Height); };
  d3d.EnumAdapters();
  EXPECT_EQ(asked, (std::vector<UINT>{640400, 800600}));
  EXPECT_EQ(d3d.GetAdapter(0)->GetDevice(0)->GetModeCount(), 2);
}

TEST_F(Enumeration, BehaviourCandidatesFollowTheCapabilities) {
  // The options dialog's filter: only software vertex processing on capable devices.
  auto filter = [](const D3DCAPS8& caps, DWORD b, D3DFORMAT, bool& accept) {
    accept = b == 0x20 && (caps.DevCaps & 0x400) && (caps.SrcBlendCaps & 2) && (caps.DestBlendCaps & 0x20);
  };
  struct Case {
    DWORD devCaps;
    bool withFilter;
    std::vector<DWORD> asked;
    DWORD behaviour;
  } cases[] = {
      {0x400 | 0x10000 | 0x100000, true, {0x50, 0x40, 0x80, 0x20}, 0x20},
      {0x400 | 0x10000, true, {0x40, 0x80, 0x20}, 0x20},
      {0x400, true, {0x20}, 0x20},
      {0x400 | 0x10000 | 0x100000, false, {}, 0x50},
      {0x400 | 0x10000, false, {}, 0x40},
  };
  for (const Case& c : cases) {
    Fake.Adapters[0].Caps.DevCaps = c.devCaps;
    Fake.Adapters[0].BackBufferFormats = {D3DFMT_X8R8G8B8};
    D3D = std::make_unique<TzrD3D8>();
    std::vector<DWORD> asked;
    if (c.withFilter)
      D3D->OnConfirmDevice = [&](const D3DCAPS8& caps, DWORD b, D3DFORMAT f, bool& accept) {
        asked.push_back(b);
        filter(caps, b, f, accept);
      };
    D3D->EnumAdapters();
    EXPECT_EQ(asked, c.asked) << c.devCaps;
    TzrD3DDeviceInfo* dev = D3D->GetAdapter(0)->GetDevice(0);
    for (const TzrD3DMode& m : dev->Modes) EXPECT_EQ(m.Behavior, c.behaviour);
    EXPECT_EQ(dev->WindowedMode.Behavior, c.behaviour);
  }
}

TEST_F(Enumeration, RejectedDeviceLeavesAdapterOut) {
  TzrD3D8& d3d = *(D3D = std::make_unique<TzrD3D8>());
  d3d.OnConfirmDevice = [](const D3DCAPS8&, DWORD, D3DFORMAT, bool& accept) { accept = false; };
  try {
    d3d.EnumAdapters();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "Could not find any compatible Direct3D adapters.");
  }
  EXPECT_TRUE(LogHas("* Info: No valid mode"));
  EXPECT_TRUE(LogHas("* Info: Failed to add device: Operation aborted"));
  EXPECT_TRUE(LogHas("* Info: Could not find any compatible Direct3D devices on this adapter."));
  EXPECT_TRUE(LogHas("* Info: Failed to add adapter: Operation aborted"));
}

TEST_F(Enumeration, WindowedRuleUsesTheDesktopFormat) {
  TFakeAdapter& a = Fake.Adapters[0];
  // The desktop format that no mode uses still decides windowed use.
  a.Modes = {{800, 600, 60, D3DFMT_R5G6B5}};
  Enumerate();
  TzrD3DDeviceInfo* dev = D3D->GetAdapter(0)->GetDevice(0);
  EXPECT_TRUE(dev->CanDoWindowed);
  EXPECT_EQ(dev->WindowedMode, (TzrD3DMode{0, 0, D3DFMT_X8R8G8B8, 0x20, 0}));
  EXPECT_EQ(dev->GetModeCount(), 1);

  // A desktop format the device cannot use: modes still listed, no windowed use.
  a.BackBufferFormats = {D3DFMT_R5G6B5};
  ClearLog();
  Enumerate();
  dev = D3D->GetAdapter(0)->GetDevice(0);
  EXPECT_FALSE(dev->CanDoWindowed);
  EXPECT_EQ(dev->GetModeCount(), 1);
  EXPECT_TRUE(LogHas("* Warning: First format not confirmed"));
  EXPECT_FALSE(LogHas("* Info: Can do Windowed=1"));

  // Without the render-in-a-window capability.
  a.BackBufferFormats = {D3DFMT_X8R8G8B8, D3DFMT_R5G6B5};
  a.Caps.Caps2 = 0;
  Enumerate();
  EXPECT_FALSE(D3D->GetAdapter(0)->GetDevice(0)->CanDoWindowed);
}

TEST_F(Enumeration, TooManyModesOrFormatsLeaveTheAdapterOut) {
  TFakeAdapter good = Fake.Adapters[0];
  auto modes = [](int n, int formats) {
    std::vector<D3DDISPLAYMODE> m;
    for (int i = 0; i < n; ++i) m.push_back({UINT(640 + i), 480, 60, D3DFORMAT(40 + i % formats)});
    return m;
  };
  struct Case {
    int modes, formats;
    const char* failure;  // nullptr: kept
  } cases[] = {{119, 1, nullptr}, {120, 1, "Too many modes"}, {18, 18, nullptr},
               {19, 19, "Too many formats"}};
  // The desktop format 22 is the first candidate, so 19 mode formats make the 20th.
  for (const Case& c : cases) {
    Fake.Adapters = {good, good};
    Fake.Adapters[1].Modes = modes(c.modes, c.formats);
    for (int f = 0; f < c.formats; ++f) Fake.Adapters[1].BackBufferFormats.insert(D3DFORMAT(40 + f));
    ClearLog();
    Enumerate();
    EXPECT_EQ(D3D->GetAdapterCount(), c.failure ? 1 : 2) << c.modes << "/" << c.formats;
    if (c.failure) EXPECT_TRUE(LogHas(std::string("* Info: Failed to add adapter: ") + c.failure));
    else EXPECT_EQ(D3D->GetAdapter(1)->GetDevice(0)->GetModeCount(), c.modes);
  }
}

TEST_F(Enumeration, FailingAdaptersAreLoggedAndSkipped) {
  TFakeAdapter good = Fake.Adapters[0];
  TFakeAdapter noModes = good, noCaps = good, noId = good, noDisplay = good;
  noModes.Modes.clear();
  noCaps.CapsResult = D3DERR_NOTAVAILABLE;
  noId.IdentifierResult = D3DERR_INVALIDCALL;
  noDisplay.DisplayModeResult = D3DERR_INVALIDCALL;
  Fake.Adapters = {noModes, noCaps, good, noId, noDisplay};
  Enumerate();
  ASSERT_EQ(D3D->GetAdapterCount(), 1);
  EXPECT_EQ(D3D->GetAdapter(0)->AdapterOrdinal, 2);
  EXPECT_TRUE(LogHas("* Info: Invalid adapter. No modes."));
  EXPECT_TRUE(LogHas("* Info: Failed to get Device Caps"));
  EXPECT_TRUE(LogHas("* Info: Failed to add adapter: " + D3DResultDescription(D3DERR_INVALIDCALL)));
  EXPECT_TRUE(LogHas("* Msg 8876086C: " + D3DResultDescription(D3DERR_INVALIDCALL) +
                     " Getting Adapter Identifier"));
  EXPECT_TRUE(LogHas("* Msg 8876086C: " + D3DResultDescription(D3DERR_INVALIDCALL) +
                     " Getting Display Mode"));

  Fake.Adapters = {noModes};
  EXPECT_THROW(Enumerate(), Exception);
}

TEST_F(Enumeration, MonitorsSkipMirrorsAndLinkTheirAdapters) {
  TFakeDisplay mirror;
  mirror.DeviceName = "\\\\.\\DISPLAYV1";
  mirror.StateFlags = DISPLAY_DEVICE_MIRRORING_DRIVER;
  TFakeDisplay second;
  second.DeviceName = "\\\\.\\DISPLAY2";
  second.DeviceString = "Second Adapter";
  second.MonitorString = "Side Monitor";
  second.StateFlags = DISPLAY_DEVICE_ATTACHED_TO_DESKTOP;
  second.Settings = DEVMODE{{1024, 0}, 32, 1280, 1024, 60};
  second.Monitor = 2;
  TFakeDisplay detached;
  detached.DeviceName = "\\\\.\\DISPLAY3";
  detached.StateFlags = 0;
  detached.HasMonitor = false;
  Fake.Displays[0].Settings.dmPosition = {50, 50};  // the primary's top-left is (0, 0) anyway
  Fake.Displays.insert(Fake.Displays.begin() + 1, {mirror, second, detached});
  TFakeAdapter other = Fake.Adapters[0];
  other.Monitor = 2;
  Fake.Adapters.push_back(other);
  Enumerate();
  ASSERT_EQ(D3D->GetMonitorCount(), 3);
  TzrD3DMonitorInfo* m0 = D3D->GetMonitor(0);
  EXPECT_EQ(m0->Monitor, 1u);
  EXPECT_EQ(m0->DesktopRect.left, 0);
  EXPECT_EQ(m0->DesktopRect.right, 1024);
  TzrD3DMonitorInfo* m1 = D3D->GetMonitor(1);
  EXPECT_EQ(m1->Name, "Side Monitor");
  EXPECT_EQ(m1->Device, "Second Adapter");
  EXPECT_EQ(m1->DesktopRect.left, 1024);
  EXPECT_EQ(m1->DesktopRect.bottom, 1024);
  EXPECT_EQ(m1->Monitor, 2u);
  EXPECT_EQ(D3D->GetMonitor(2)->Monitor, 0u);
  EXPECT_EQ(D3D->GetMonitor(2)->Name, "");
  EXPECT_EQ(D3D->GetAdapter(1)->MonitorInfo, m1);
  EXPECT_THROW(D3D->GetMonitor(3), EListError);
}

TEST_F(Enumeration, DepthFormatsFollowTheWantedBits) {
  D3D = std::make_unique<TzrD3D8>();
  struct Case {
    int depth, stencil;
    std::set<D3DFORMAT> available;
    D3DFORMAT expected;
  } cases[] = {
      {0, 0, {D3DFMT_D16, D3DFMT_D24S8}, D3DFMT_D16},
      {0, 1, {D3DFMT_D16, D3DFMT_D15S1, D3DFMT_D24S8}, D3DFMT_D15S1},
      {16, 1, {D3DFMT_D16, D3DFMT_D15S1, D3DFMT_D24S8}, D3DFMT_D24S8},
      {24, 4, {D3DFMT_D24X4S4, D3DFMT_D32}, D3DFMT_D24X4S4},
      {32, 0, {D3DFMT_D16, D3DFMT_D24X8, D3DFMT_D32}, D3DFMT_D32},
      {24, 8, {D3DFMT_D16, D3DFMT_D32}, 0},
  };
  for (const Case& c : cases) {
    Fake.Adapters[0].DepthFormats = c.available;
    D3D->MinDepthBits = c.depth;
    D3D->MinStencilBits = c.stencil;
    EXPECT_EQ(D3D->FindDepthFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8), c.expected) << c.depth << "/" << c.stencil;
  }
  // With a depth buffer wanted, a format without a depth format is not usable.
  Fake.Adapters[0].DepthFormats = {};
  D3D->UseDepthBuffer = true;
  EXPECT_THROW(D3D->EnumAdapters(), Exception);
  Fake.Adapters[0].DepthFormats = {D3DFMT_D24X8};
  D3D->MinDepthBits = 0;
  D3D->MinStencilBits = 0;
  D3D->EnumAdapters();
  EXPECT_EQ(D3D->GetAdapter(0)->GetDevice(0)->Modes[0].DepthFormat, D3DFMT_D24X8);
}

TEST(SortModes, ExchangeSortOrder) {
  D3DDISPLAYMODE m[] = {{800, 600, 0, 22}, {640, 480, 0, 23}, {800, 480, 0, 22},
                        {1024, 768, 0, 23}, {640, 480, 0, 22}, {800, 400, 0, 22}};
  SortModes(m, 6);
  const UINT expected[][3] = {{640, 480, 23}, {1024, 768, 23}, {640, 480, 22},
                              {800, 400, 22}, {800, 480, 22},  {800, 600, 22}};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(m[i].Width, expected[i][0]) << i;
    EXPECT_EQ(m[i].Height, expected[i][1]) << i;
    EXPECT_EQ(m[i].Format, expected[i][2]) << i;
  }
}

}  // namespace
