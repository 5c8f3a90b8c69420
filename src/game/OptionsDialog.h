#pragma once
// The options dialog without its window: device list, display-mode buttons, volumes, detail and
// smoke settings, and OK/Cancel/close behaviour on GameEnvironment. The shell's form mirrors
// these fields in its controls and calls the handlers; tests drive the class directly.
// Also the selection functions with which the shell picks the device and mode of a game.
#include <string>
#include <vector>

#include "engine/zrD3D.h"

// The dialog's own texts; the form takes its captions from here.
namespace OptionsTexts {
inline constexpr const char* Caption = "Options";
inline constexpr const char* PageGraphics = "Graphics";
inline constexpr const char* PageSound = "Sound";
inline constexpr const char* PageDetail = "Detail";
inline constexpr const char* GroupDevice = "Rendering Device";
inline constexpr const char* GroupDisplayMode = "Display Mode";
inline constexpr const char* Window = "Desktop Window";
inline constexpr const char* Fullscreen16 = "Fullscreen 800 x 600 x 16";
inline constexpr const char* Fullscreen32 = "Fullscreen 800 x 600 x 32";
inline constexpr const char* GroupVolume = "Volume Adjustment";
inline constexpr const char* Music = "Music";
inline constexpr const char* SoundFX = "Sound FX";
inline constexpr const char* GroupGraphicsDetail = "Graphics Detail";
inline constexpr const char* DetailMin = "Min";
inline constexpr const char* DetailMax = "Max";
inline constexpr const char* GroupSmokeDensity = "Smoke Density";
inline constexpr const char* SmokeOff = "Off";
inline constexpr const char* SmokeMin = "Min";
inline constexpr const char* SmokeMed = "Med";
inline constexpr const char* SmokeHigh = "High";
inline constexpr const char* Ok = "Ok";
inline constexpr const char* Cancel = "Cancel";
}  // namespace OptionsTexts

constexpr int kOptionsClientWidth = 321;
constexpr int kOptionsClientHeight = 281;
constexpr int kVolumeMax = 100;
constexpr int kVolumeTick = 10;
constexpr int kGraphicsDetailMax = 1;
constexpr int kSmokeDensityMax = 3;

// Display modes as stored in GameEnvironment.DisplayMode.
enum : int { dmNone = 0, dmWindow = 1, dmFullscreen16 = 2, dmFullscreen32 = 3 };

// True for the 24- and 32-bit formats (20, 21, 22).
bool IsTrueColorFormat(uint32_t format);

// The enumeration filters: only software vertex processing on a device that draws
// pre-transformed vertices and blends one / inverse source alpha; only 800 x 600 modes.
void OptionsConfirmDevice(const D3DCAPS8& caps, DWORD behavior, D3DFORMAT format, bool& accept);
void OptionsConfirmMode(const D3DDISPLAYMODE& mode, bool& accept);

// The selection functions on GameEnvironment and an enumerated Direct3D object (may be null).
TzrD3DDeviceInfo* FindSelectedDevice(const TzrD3D8* direct3D);
bool HasSelectedDevice(const TzrD3D8* direct3D);
bool IsWindowed();
// The mode record to create the game's device with; all zeros when there is no device or it
// has no mode of the stored kind, so the game window's mode check refuses it.
void GetSelectedDisplayMode(const TzrD3D8* direct3D, TzrD3DMode& mode);

struct TOptionsDeviceEntry {
  std::string Text;  // the adapter's description
  TzrD3DDeviceInfo* Device;
};

struct TOptionsRadioButton {
  bool Enabled = true;
  bool Checked = false;
};

class TGameOptionsDialog {
public:
  // direct3D: the program's Direct3D object, or null when there is none; not owned.
  explicit TGameOptionsDialog(TzrD3D8* direct3D) : Direct3D(direct3D) {}

  TzrD3D8* Direct3D;

  // Control state, mirrored by the form.
  int PageIndex = 0;  // 0 Graphics, 1 Sound, 2 Detail
  std::vector<TOptionsDeviceEntry> cbxDevice;
  int cbxDeviceIndex = -1;
  TOptionsRadioButton rbtnWindow, rbtnFullscreen16, rbtnFullscreen32;
  int tbarMusic = 0, tbarSoundFX = 0;
  int tbrGraphicsDetail = 0, tbrSmokeDensity = 0;
  bool actOkEnabled = false;

  // Dialog fields.
  TzrD3DDeviceInfo* FoundDevice = nullptr;  // the device of the stored choice at the last show
  int ShownDisplayMode = dmNone;
  bool MayClose = false;
  bool NoDevice = true;

  void FormCreate();   // loads the settings, enumerates and lists the devices
  void ListDevices();  // FormCreate's second half: enumerates and lists the devices
  void FormShow();     // controls from GameEnvironment
  void FormDestroy();  // saves the settings
  bool FormCloseQuery() const { return MayClose; }
  void cbxDeviceChange();  // after cbxDeviceIndex changed
  void BtCancelClick();
  void actOkExecute();
  void actOKUpdate();

  // Radio-button clicks: check one, uncheck the others.
  void CheckDisplayMode(int displayMode);
  int CheckedMode() const;
  TzrD3DDeviceInfo* SelectedDevice() const;

  // The selection functions on this dialog's Direct3D object.
  TzrD3DDeviceInfo* FindSelectedDevice() const { return ::FindSelectedDevice(Direct3D); }
  bool HasSelectedDevice() const { return ::HasSelectedDevice(Direct3D); }
  bool IsWindowed() const { return ::IsWindowed(); }
  void GetSelectedDisplayMode(TzrD3DMode& mode) const { ::GetSelectedDisplayMode(Direct3D, mode); }

private:
  void UpdateModeButtons(const TzrD3DDeviceInfo* device);
};
