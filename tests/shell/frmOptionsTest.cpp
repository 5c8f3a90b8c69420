#include "shell/frmOptions.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QAction>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>

#include "engine/D3DTestSupport.h"
#include "game/KTGlobal.h"
#include "game/Options.h"

#include <functional>
#include <vector>

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "test_shell";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);  // lives to the end of the process
  return *app;
}

// The form's controls, found by their names.
struct Controls {
  explicit Controls(QWidget& f)
      : pgcOptions(Get<QTabWidget>(f, "pgcOptions")), cbxDevice(Get<QComboBox>(f, "cbxDevice")),
        rbtnWindow(Get<QRadioButton>(f, "rbtnWindow")),
        rbtnFullscreen16(Get<QRadioButton>(f, "rbtnFullscreen16")),
        rbtnFullscreen32(Get<QRadioButton>(f, "rbtnFullscreen32")),
        tbarMusic(Get<QSlider>(f, "tbarMusic")), tbarSoundFX(Get<QSlider>(f, "tbarSoundFX")),
        tbrGraphicsDetail(Get<QSlider>(f, "tbrGraphicsDetail")),
        tbrSmokeDensity(Get<QSlider>(f, "tbrSmokeDensity")), BtOk(Get<QPushButton>(f, "BtOk")),
        BtCancel(Get<QPushButton>(f, "BtCancel")), actOk(Get<QAction>(f, "actOk")) {}
  template <class T>
  static T* Get(QWidget& f, const char* name) {
    T* c = f.findChild<T*>(name);
    if (!c) ADD_FAILURE() << "no control " << name;
    return c;
  }
  QTabWidget* pgcOptions;
  QComboBox* cbxDevice;
  QRadioButton *rbtnWindow, *rbtnFullscreen16, *rbtnFullscreen32;
  QSlider *tbarMusic, *tbarSoundFX, *tbrGraphicsDetail, *tbrSmokeDensity;
  QPushButton *BtOk, *BtCancel;
  QAction* actOk;
};

class FrmOptionsTest : public D3DFakeTest {
protected:
  void SetUp() override {
    App();
    D3DFakeTest::SetUp();
    Dir = TestDir();
    UserDataDir = Dir;
    TGameEnvironment e;
    ResetEnvironment(e);
    e.MusicVolume = 40;
    e.DisplayMode = dmFullscreen16;
    std::string error;
    ASSERT_TRUE(SaveEnvironmentFile(Dir + "env.dat", e, error)) << error;
    Enumerate();  // the main window's Direct3D object
  }
  void TearDown() override {
    UserDataDir.clear();
    ResetEnvironment(GameEnvironment);
    D3DFakeTest::TearDown();
  }
  TGameEnvironment SavedFile() {
    TGameEnvironment e;
    EXPECT_TRUE(LoadEnvironmentFile(Dir + "env.dat", e));
    return e;
  }
  std::string Dir;
};

TEST_F(FrmOptionsTest, FormShowsTheSettingsAndOkStoresTheControls) {
  TfrmGameOptions form(D3D.get());
  Controls ui(form);
  ASSERT_TRUE(ui.tbrGraphicsDetail && ui.tbarSoundFX);
  EXPECT_EQ(ui.tbarSoundFX->maximum(), 100);
  EXPECT_EQ(ui.tbrSmokeDensity->maximum(), 3);
  EXPECT_EQ(ui.tbrGraphicsDetail->maximum(), 1);
  EXPECT_EQ(form.windowTitle(), "Options");
  EXPECT_EQ(form.size(), QSize(321, 281));
  form.show();
  ASSERT_EQ(ui.cbxDevice->count(), 1);
  EXPECT_EQ(ui.cbxDevice->itemText(0), "Fake Adapter");
  EXPECT_EQ(ui.pgcOptions->tabText(0), "Graphics");
  EXPECT_EQ(ui.pgcOptions->tabText(2), "Detail");
  EXPECT_EQ(ui.rbtnWindow->text(), "Desktop Window");
  EXPECT_EQ(ui.rbtnFullscreen32->text(), "Fullscreen 800 x 600 x 32");
  EXPECT_EQ(ui.BtOk->text(), "Ok");
  EXPECT_EQ(ui.tbarMusic->value(), 40);
  EXPECT_TRUE(ui.rbtnFullscreen16->isChecked());
  EXPECT_TRUE(ui.BtOk->isEnabled());

  ui.tbarMusic->setValue(75);
  ui.tbrSmokeDensity->setValue(0);
  ui.rbtnFullscreen32->click();
  EXPECT_EQ(form.Model().CheckedMode(), dmFullscreen32);
  EXPECT_FALSE(ui.rbtnFullscreen16->isChecked());
  ui.BtOk->click();
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_FALSE(form.isVisible());
  TGameEnvironment s = SavedFile();
  EXPECT_EQ(s.MusicVolume, 75);
  EXPECT_EQ(s.SmokeDensity, 0);
  EXPECT_EQ(s.DisplayMode, dmFullscreen32);
  EXPECT_TRUE(form.HasSelectedDevice());
  TzrD3DMode mode;
  form.GetSelectedDisplayMode(mode);
  EXPECT_EQ(mode.Width, 800u);
  EXPECT_EQ(mode.Format, uint32_t(D3DFMT_X8R8G8B8));
}

TEST_F(FrmOptionsTest, CloseAndEscapeActAsCancelAndStoreNothing) {
  struct TCase {
    const char* Name;
    std::function<void(TfrmGameOptions&)> Leave;
  };
  const std::vector<TCase> cases = {
      {"close", [](TfrmGameOptions& f) { EXPECT_TRUE(f.close()); }},
      {"escape",
       [](TfrmGameOptions& f) {
         QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
         QApplication::sendEvent(&f, &esc);
       }},
      {"cancel", [](TfrmGameOptions& f) { Controls(f).BtCancel->click(); }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    {
      TfrmGameOptions form(D3D.get());
      form.show();
      Controls ui(form);
      ui.tbarMusic->setValue(99);
      ui.rbtnWindow->click();
      c.Leave(form);
      EXPECT_FALSE(form.isVisible());
      EXPECT_EQ(form.result(), QDialog::Rejected);
      EXPECT_EQ(GameEnvironment.MusicVolume, 40);
      EXPECT_EQ(GameEnvironment.DisplayMode, dmFullscreen16);
      GameEnvironment.GamesStarted = 3;
    }
    // Destroying the form saves the settings, as they were before.
    TGameEnvironment s = SavedFile();
    EXPECT_EQ(s.MusicVolume, 40);
    EXPECT_EQ(s.DisplayMode, dmFullscreen16);
    EXPECT_EQ(s.GamesStarted, 3);
  }
}

TEST_F(FrmOptionsTest, DroppedModeShowsNoButtonCheckedAndOkDisabled) {
  std::string error;
  TGameEnvironment e = SavedFile();
  e.DisplayMode = dmNone;
  ASSERT_TRUE(SaveEnvironmentFile(Dir + "env.dat", e, error));
  TfrmGameOptions form(D3D.get());
  form.show();
  Controls ui(form);
  EXPECT_FALSE(ui.rbtnWindow->isChecked() || ui.rbtnFullscreen16->isChecked() ||
               ui.rbtnFullscreen32->isChecked());
  EXPECT_FALSE(ui.BtOk->isEnabled());
  ui.actOk->trigger();  // a disabled action does nothing
  EXPECT_TRUE(form.isVisible());
  ui.rbtnWindow->click();
  EXPECT_TRUE(ui.BtOk->isEnabled());
  Controls(form).BtCancel->click();
}

}  // namespace
