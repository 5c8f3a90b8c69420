#include "game/OptionsDialog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "base/SysUtils.h"
#include "engine/D3DTestSupport.h"
#include "game/KTGlobal.h"
#include "game/Options.h"

namespace {

class OptionsDialogTest : public D3DFakeTest {
protected:
  void SetUp() override {
    D3DFakeTest::SetUp();
    Dir = TestDir();
    UserDataDir = Dir;
    ResetEnvironment(GameEnvironment);
  }
  void TearDown() override {
    Dlg.reset();
    UserDataDir.clear();
    ResetEnvironment(GameEnvironment);
    D3DFakeTest::TearDown();
  }

  // Writes `env` as the stored settings, then creates and shows the dialog on the fake.
  TGameOptionsDialog& Open(const TGameEnvironment& env, bool withDirect3D = true) {
    std::string error;
    EXPECT_TRUE(SaveEnvironmentFile(Dir + "env.dat", env, error)) << error;
    if (withDirect3D) D3D = std::make_unique<TzrD3D8>();
    Dlg = std::make_unique<TGameOptionsDialog>(D3D.get());
    Dlg->FormCreate();
    Dlg->FormShow();
    return *Dlg;
  }
  static TGameEnvironment Stored(int adapter, int displayMode) {
    TGameEnvironment e;
    ResetEnvironment(e);
    e.AdapterNumber = adapter;
    e.DisplayMode = uint8_t(displayMode);
    return e;
  }
  TGameEnvironment SavedFile() {
    TGameEnvironment e;
    EXPECT_TRUE(LoadEnvironmentFile(Dir + "env.dat", e));
    return e;
  }
  // An adapter whose 800 x 600 modes are all 16-bit and which cannot render in a window.
  static TFakeAdapter SixteenBitAdapter(const char* name) {
    TFakeAdapter a = TFakeD3D8::CapableAdapter();
    std::strcpy(a.Identifier.Description, name);
    a.Modes.clear();
    a.Modes.push_back({800, 600, 60, D3DFMT_R5G6B5});
    a.Modes.push_back({800, 600, 60, D3DFMT_X1R5G5B5});
    a.Modes.push_back({1024, 768, 60, D3DFMT_X8R8G8B8});
    a.Caps.Caps2 = 0;
    a.BackBufferFormats.insert(D3DFMT_X1R5G5B5);
    a.TextureFormats.insert(D3DFMT_X1R5G5B5);
    return a;
  }

  std::string Dir;
  std::unique_ptr<TGameOptionsDialog> Dlg;
};

TEST_F(OptionsDialogTest, ListsOnlyUsableHardwareDevicesWithTheir800x600Modes) {
  TFakeAdapter noBlend = TFakeD3D8::CapableAdapter();
  std::strcpy(noBlend.Identifier.Description, "No Blend");
  noBlend.Caps.DestBlendCaps = D3DPBLENDCAPS_ONE;
  TFakeAdapter noTL = TFakeD3D8::CapableAdapter();
  std::strcpy(noTL.Identifier.Description, "No TL");
  noTL.Caps.DevCaps = 0;
  Fake.Adapters.push_back(noBlend);
  Fake.Adapters.push_back(noTL);
  Fake.Adapters.push_back(SixteenBitAdapter("Second"));

  TGameOptionsDialog& d = Open(Stored(0, dmWindow));
  ASSERT_EQ(d.cbxDevice.size(), 2u);
  EXPECT_FALSE(d.NoDevice);
  EXPECT_EQ(d.cbxDevice[0].Text, "Fake Adapter");
  EXPECT_EQ(d.cbxDevice[1].Text, "Second");
  EXPECT_EQ(d.cbxDevice[1].Device->Owner->AdapterOrdinal, 3);
  for (const TOptionsDeviceEntry& e : d.cbxDevice) {
    EXPECT_EQ(e.Device->DeviceType, D3DDEVTYPE_HAL);
    ASSERT_GT(e.Device->GetModeCount(), 0);
    for (const TzrD3DMode& m : e.Device->Modes) {
      EXPECT_EQ(m.Width, 800u);
      EXPECT_EQ(m.Height, 600u);
      EXPECT_EQ(m.Behavior, uint32_t(D3DCREATE_SOFTWARE_VERTEXPROCESSING));
    }
  }
}

TEST_F(OptionsDialogTest, DeviceFilterWantsSoftwareProcessingAndBothBlendCaps) {
  D3DCAPS8 caps = TFakeD3D8::CapableAdapter().Caps;
  struct Case {
    DWORD Behavior, DevCaps, Src, Dest;
    bool Accepted;
  } cases[] = {
      {D3DCREATE_SOFTWARE_VERTEXPROCESSING, 0x400, 2, 0x20, true},
      {D3DCREATE_SOFTWARE_VERTEXPROCESSING, 0x7FF, 0xFF, 0xFF, true},
      {D3DCREATE_HARDWARE_VERTEXPROCESSING, 0x400, 2, 0x20, false},
      {D3DCREATE_SOFTWARE_VERTEXPROCESSING, 0x3FF, 2, 0x20, false},
      {D3DCREATE_SOFTWARE_VERTEXPROCESSING, 0x400, 1, 0x20, false},
      {D3DCREATE_SOFTWARE_VERTEXPROCESSING, 0x400, 2, 0x10, false},
  };
  for (const Case& c : cases) {
    caps.DevCaps = c.DevCaps;
    caps.SrcBlendCaps = c.Src;
    caps.DestBlendCaps = c.Dest;
    bool accept = true;
    OptionsConfirmDevice(caps, c.Behavior, D3DFMT_X8R8G8B8, accept);
    EXPECT_EQ(accept, c.Accepted) << c.Behavior << " " << c.DevCaps << " " << c.Src << " " << c.Dest;
  }
  bool accept = false;  // the filter only ever vetoes
  OptionsConfirmDevice(caps, D3DCREATE_SOFTWARE_VERTEXPROCESSING, D3DFMT_X8R8G8B8, accept);
  EXPECT_FALSE(accept);
}

TEST_F(OptionsDialogTest, WithoutDirect3DOrUsableAdapterNothingCanBeChosen) {
  for (bool withDirect3D : {false, true}) {
    SCOPED_TRACE(withDirect3D);
    Fake.Adapters[0].Caps.SrcBlendCaps = 0;  // every device filtered out: the enumeration fails
    TGameOptionsDialog& d = Open(Stored(0, dmFullscreen32), withDirect3D);
    EXPECT_TRUE(d.NoDevice);
    EXPECT_EQ(d.cbxDeviceIndex, -1);
    EXPECT_FALSE(d.rbtnWindow.Enabled || d.rbtnFullscreen16.Enabled || d.rbtnFullscreen32.Enabled);
    EXPECT_FALSE(d.actOkEnabled);
    EXPECT_EQ(d.FindSelectedDevice(), nullptr);
    EXPECT_FALSE(d.HasSelectedDevice());
    TzrD3DMode mode{1, 2, 3, 4, 5};
    d.GetSelectedDisplayMode(mode);
    EXPECT_EQ(mode, TzrD3DMode{});
  }
}

TEST_F(OptionsDialogTest, StoredModeTheDeviceCannotDoShowsUncheckedAndBlocksOk) {
  Fake.Adapters[0] = SixteenBitAdapter("Only16");
  TGameOptionsDialog& d = Open(Stored(0, dmFullscreen32));
  EXPECT_FALSE(d.rbtnWindow.Enabled);
  EXPECT_TRUE(d.rbtnFullscreen16.Enabled);
  EXPECT_FALSE(d.rbtnFullscreen32.Enabled);
  EXPECT_TRUE(d.rbtnFullscreen32.Checked);
  EXPECT_EQ(d.CheckedMode(), dmNone);
  EXPECT_FALSE(d.actOkEnabled);
  EXPECT_EQ(GameEnvironment.DisplayMode, dmNone);  // dropped on show
  EXPECT_FALSE(d.HasSelectedDevice());

  d.CheckDisplayMode(dmFullscreen16);
  EXPECT_TRUE(d.actOkEnabled);
  d.actOkExecute();
  EXPECT_EQ(SavedFile().DisplayMode, dmFullscreen16);
}

TEST_F(OptionsDialogTest, MissingStoredDeviceSelectsFirstAndKeepsValuesUntilOk) {
  Fake.Adapters.push_back(SixteenBitAdapter("Second"));
  TGameEnvironment e = Stored(1, dmFullscreen16);  // adapter 1 has no usable device
  e.DeviceType = D3DDEVTYPE_HAL;
  Fake.Adapters[1].Caps.SrcBlendCaps = 0;
  TGameOptionsDialog& d = Open(e);
  ASSERT_EQ(d.cbxDevice.size(), 1u);  // the second adapter is filtered out
  EXPECT_EQ(d.cbxDeviceIndex, 0);
  EXPECT_EQ(d.FoundDevice, nullptr);
  EXPECT_EQ(GameEnvironment.AdapterNumber, 1);
  d.actOkExecute();
  EXPECT_EQ(GameEnvironment.AdapterNumber, 0);
  EXPECT_EQ(SavedFile().AdapterNumber, 0);
  EXPECT_EQ(SavedFile().DeviceType, D3DDEVTYPE_HAL);
}

TEST_F(OptionsDialogTest, StoredDeviceIsSelectedAndChangingDeviceUpdatesModes) {
  Fake.Adapters.push_back(SixteenBitAdapter("Second"));
  TGameOptionsDialog& d = Open(Stored(1, dmWindow));
  ASSERT_EQ(d.cbxDevice.size(), 2u);
  EXPECT_EQ(d.cbxDeviceIndex, 1);
  EXPECT_EQ(d.FoundDevice, d.cbxDevice[1].Device);
  // The second adapter cannot render in a window: the stored window mode is dropped.
  EXPECT_FALSE(d.rbtnWindow.Enabled);
  EXPECT_FALSE(d.actOkEnabled);

  d.cbxDeviceIndex = 0;
  d.cbxDeviceChange();
  EXPECT_TRUE(d.rbtnWindow.Enabled && d.rbtnFullscreen16.Enabled && d.rbtnFullscreen32.Enabled);
  EXPECT_TRUE(d.actOkEnabled);  // the window button is still checked and now enabled
  d.actOkExecute();
  EXPECT_EQ(GameEnvironment.AdapterNumber, 0);
  EXPECT_EQ(GameEnvironment.DisplayMode, dmWindow);
  EXPECT_TRUE(d.HasSelectedDevice());
  EXPECT_TRUE(d.IsWindowed());
}

TEST_F(OptionsDialogTest, OkStoresTheControlsAndSaves) {
  TGameOptionsDialog& d = Open(Stored(0, dmFullscreen16));
  EXPECT_EQ(d.PageIndex, 0);
  EXPECT_EQ(d.tbarMusic, 60);
  EXPECT_EQ(d.tbarSoundFX, 100);
  EXPECT_EQ(d.tbrGraphicsDetail, 1);
  EXPECT_EQ(d.tbrSmokeDensity, 2);
  EXPECT_FALSE(d.FormCloseQuery());
  d.tbarMusic = 30;
  d.tbarSoundFX = 0;
  d.tbrGraphicsDetail = 0;
  d.tbrSmokeDensity = 3;
  d.CheckDisplayMode(dmFullscreen32);
  d.actOkExecute();
  EXPECT_TRUE(d.FormCloseQuery());
  TGameEnvironment s = SavedFile();
  EXPECT_EQ(s.MusicVolume, 30);
  EXPECT_EQ(s.SoundFXVolume, 0);
  EXPECT_EQ(s.GraphicsDetail, 0);
  EXPECT_EQ(s.SmokeDensity, 3);
  EXPECT_EQ(s.DisplayMode, dmFullscreen32);
  EXPECT_EQ(GameEnvironment.MusicVolume, 30);
}

TEST_F(OptionsDialogTest, CancelKeepsValuesButDestroySavesThem) {
  TGameEnvironment e = Stored(0, dmFullscreen16);
  e.MusicVolume = 5;
  e.Highscores[0] = {"Ann", 1234};
  TGameOptionsDialog& d = Open(e);
  d.tbarMusic = 90;
  d.CheckDisplayMode(dmWindow);
  EXPECT_FALSE(d.FormCloseQuery());
  d.BtCancelClick();
  EXPECT_TRUE(d.FormCloseQuery());
  EXPECT_EQ(GameEnvironment.MusicVolume, 5);
  EXPECT_EQ(GameEnvironment.DisplayMode, dmFullscreen16);

  GameEnvironment.GamesStarted = 17;  // what the program changed meanwhile
  std::remove((Dir + "env.dat").c_str());
  d.FormDestroy();
  TGameEnvironment s = SavedFile();
  EXPECT_EQ(s.MusicVolume, 5);
  EXPECT_EQ(s.GamesStarted, 17);
  EXPECT_EQ(s.Highscores[0].Name, "Ann");
}

TEST_F(OptionsDialogTest, OutOfRangeStoredValuesShowInsideTheTrackBars) {
  // A file's values are checked as it loads; the record in memory may still hold anything.
  TGameOptionsDialog& d = Open(Stored(0, dmFullscreen16));
  GameEnvironment.MusicVolume = 250;
  GameEnvironment.SoundFXVolume = -4;
  GameEnvironment.GraphicsDetail = 9;
  GameEnvironment.SmokeDensity = 7;
  d.FormShow();
  EXPECT_EQ(d.tbarMusic, 100);
  EXPECT_EQ(d.tbarSoundFX, 0);
  EXPECT_EQ(d.tbrGraphicsDetail, 1);
  EXPECT_EQ(d.tbrSmokeDensity, 3);
}

TEST_F(OptionsDialogTest, SelectedDisplayModeRecord) {
  Fake.Adapters[0].Modes.insert(Fake.Adapters[0].Modes.begin(), {800, 600, 60, D3DFMT_X1R5G5B5});
  Fake.Adapters[0].BackBufferFormats.insert(D3DFMT_X1R5G5B5);
  Fake.Adapters.push_back(SixteenBitAdapter("Second"));
  Open(Stored(0, dmWindow));
  const TzrD3DDeviceInfo* first = Dlg->cbxDevice[0].Device;
  ASSERT_TRUE(first->CanDoWindowed);
  TzrD3DMode window = first->WindowedMode;
  window.Width = 800;
  window.Height = 600;
  // Modes are sorted by format, descending: the first 16-bit one is the 23 (R5G6B5) mode.
  TzrD3DMode first16, first32;
  for (const TzrD3DMode& m : first->Modes)
    if (IsTrueColorFormat(m.Format)) {
      if (!first32.Width) first32 = m;
    } else if (!first16.Width) {
      first16 = m;
    }
  ASSERT_EQ(first32.Format, uint32_t(D3DFMT_X8R8G8B8));
  ASSERT_NE(first16.Width, 0u);

  struct Case {
    int Adapter, Mode;
    TzrD3DMode Expected;
  } cases[] = {
      {0, dmWindow, window},
      {0, dmFullscreen16, first16},
      {0, dmFullscreen32, first32},
      {0, dmNone, {}},
      {1, dmFullscreen32, {}},  // no 32-bit mode on the second adapter
      {1, dmWindow, {}},        // nor windowed rendering
      {7, dmFullscreen16, {}},  // no such adapter
  };
  for (const Case& c : cases) {
    GameEnvironment.AdapterNumber = c.Adapter;
    GameEnvironment.DisplayMode = uint8_t(c.Mode);
    TzrD3DMode got{9, 9, 9, 9, 9};
    Dlg->GetSelectedDisplayMode(got);
    EXPECT_EQ(got, c.Expected) << c.Adapter << "/" << c.Mode;
  }
  EXPECT_EQ(window.Format, Fake.Adapters[0].DesktopMode.Format);
}

}  // namespace
