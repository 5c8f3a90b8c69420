#include "shell/frmOptions.h"

#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>

#include "base/Win1252.h"
#include "game/Options.h"
#include "ui_frmOptions.h"

TfrmGameOptions::TfrmGameOptions(TzrD3D8* direct3D, QWidget* parent)
    : QDialog(parent), FModel(direct3D), FUi(std::make_unique<Ui::frmOptions>()) {
  FUi->setupUi(this);
  // Fixed single border, title only: no close, minimise or help buttons.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  ApplyTexts();
  // The form's size, or what its layout needs when a larger font needs more.
  setFixedSize(QSize(kOptionsClientWidth, kOptionsClientHeight).expandedTo(minimumSizeHint()));

  LoadSettings();  // FormCreate's first half; ListDevices does the rest

  connect(FUi->cbxDevice, &QComboBox::currentIndexChanged, this,
          &TfrmGameOptions::cbxDeviceChange);
  for (QRadioButton* b : {FUi->rbtnWindow, FUi->rbtnFullscreen16, FUi->rbtnFullscreen32})
    connect(b, &QRadioButton::toggled, this, [this](bool) { DisplayModeClicked(); });
  connect(FUi->tbarMusic, &QSlider::valueChanged, this, [this](int v) { FModel.tbarMusic = v; });
  connect(FUi->tbarSoundFX, &QSlider::valueChanged, this,
          [this](int v) { FModel.tbarSoundFX = v; });
  connect(FUi->tbrGraphicsDetail, &QSlider::valueChanged, this,
          [this](int v) { FModel.tbrGraphicsDetail = v; });
  connect(FUi->tbrSmokeDensity, &QSlider::valueChanged, this,
          [this](int v) { FModel.tbrSmokeDensity = v; });
  connect(FUi->BtOk, &QPushButton::clicked, FUi->actOk, &QAction::trigger);
  connect(FUi->actOk, &QAction::triggered, this, &TfrmGameOptions::actOkExecute);
  connect(FUi->BtCancel, &QPushButton::clicked, this, &TfrmGameOptions::BtCancelClick);
  UpdateControls();
}

void TfrmGameOptions::ListDevices() {
  if (FDevicesListed) return;
  FDevicesListed = true;
  FModel.ListDevices();
  FUpdating = true;  // filling the list is no choice of the player's
  for (const TOptionsDeviceEntry& e : FModel.cbxDevice)
    FUi->cbxDevice->addItem(QString::fromStdString(Cp1252ToUtf8(e.Text)));
  FUpdating = false;
}

TfrmGameOptions::~TfrmGameOptions() { FModel.FormDestroy(); }

void TfrmGameOptions::ApplyTexts() {
  namespace T = OptionsTexts;
  setWindowTitle(T::Caption);
  FUi->pgcOptions->setTabText(0, T::PageGraphics);
  FUi->pgcOptions->setTabText(1, T::PageSound);
  FUi->pgcOptions->setTabText(2, T::PageDetail);
  FUi->gbxDevice->setTitle(T::GroupDevice);
  FUi->gbxDisplayMode->setTitle(T::GroupDisplayMode);
  FUi->rbtnWindow->setText(T::Window);
  FUi->rbtnFullscreen16->setText(T::Fullscreen16);
  FUi->rbtnFullscreen32->setText(T::Fullscreen32);
  FUi->gbxVolume->setTitle(T::GroupVolume);
  FUi->lblMusic->setText(T::Music);
  FUi->lblSoundFX->setText(T::SoundFX);
  FUi->gbxGraphicsDetail->setTitle(T::GroupGraphicsDetail);
  FUi->lblDetailMin->setText(T::DetailMin);
  FUi->lblDetailMax->setText(T::DetailMax);
  FUi->gbxSmokeDensity->setTitle(T::GroupSmokeDensity);
  FUi->lblSmokeOff->setText(T::SmokeOff);
  FUi->lblSmokeMin->setText(T::SmokeMin);
  FUi->lblSmokeMed->setText(T::SmokeMed);
  FUi->lblSmokeHigh->setText(T::SmokeHigh);
  FUi->BtOk->setText(T::Ok);
  FUi->actOk->setText(T::Ok);
  FUi->BtCancel->setText(T::Cancel);
  for (QSlider* s : {FUi->tbarMusic, FUi->tbarSoundFX}) {
    s->setRange(0, kVolumeMax);
    s->setTickInterval(kVolumeTick);
  }
  FUi->tbrGraphicsDetail->setRange(0, kGraphicsDetailMax);
  FUi->tbrSmokeDensity->setRange(0, kSmokeDensityMax);
}

void TfrmGameOptions::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;  // only the program's own show, not a restore
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->geometry().center() - rect().center());
  FormShow();
}

void TfrmGameOptions::FormShow() {
  ListDevices();
  FModel.FormShow();
  ModelToControls();
}

void TfrmGameOptions::reject() { BtCancelClick(); }

void TfrmGameOptions::cbxDeviceChange(int index) {
  if (FUpdating) return;
  FModel.cbxDeviceIndex = index;
  FModel.cbxDeviceChange();
  UpdateControls();
}

void TfrmGameOptions::DisplayModeClicked() {
  if (FUpdating) return;
  int mode = FUi->rbtnWindow->isChecked()         ? dmWindow
             : FUi->rbtnFullscreen16->isChecked() ? dmFullscreen16
             : FUi->rbtnFullscreen32->isChecked() ? dmFullscreen32
                                                  : dmNone;
  FModel.CheckDisplayMode(mode);
  UpdateControls();
}

void TfrmGameOptions::BtCancelClick() {
  FModel.BtCancelClick();
  if (FModel.FormCloseQuery()) QDialog::reject();
}

void TfrmGameOptions::actOkExecute() {
  FModel.actOKUpdate();
  if (!FModel.actOkEnabled) return;
  FModel.actOkExecute();
  accept();
}

void TfrmGameOptions::ModelToControls() {
  FUpdating = true;
  FUi->pgcOptions->setCurrentIndex(FModel.PageIndex);
  FUi->cbxDevice->setCurrentIndex(FModel.cbxDeviceIndex);
  FUi->tbarMusic->setValue(FModel.tbarMusic);
  FUi->tbarSoundFX->setValue(FModel.tbarSoundFX);
  FUi->tbrGraphicsDetail->setValue(FModel.tbrGraphicsDetail);
  FUi->tbrSmokeDensity->setValue(FModel.tbrSmokeDensity);
  FUpdating = false;
  UpdateControls();
}

void TfrmGameOptions::UpdateControls() {
  FUpdating = true;
  const std::pair<QRadioButton*, const TOptionsRadioButton*> buttons[] = {
      {FUi->rbtnWindow, &FModel.rbtnWindow},
      {FUi->rbtnFullscreen16, &FModel.rbtnFullscreen16},
      {FUi->rbtnFullscreen32, &FModel.rbtnFullscreen32}};
  // Exclusivity would refuse "none checked", which a dropped mode needs.
  for (auto [b, m] : buttons) b->setAutoExclusive(false);
  for (auto [b, m] : buttons) {
    b->setEnabled(m->Enabled);
    b->setChecked(m->Checked);
  }
  for (auto [b, m] : buttons) b->setAutoExclusive(true);
  FModel.actOKUpdate();
  FUi->actOk->setEnabled(FModel.actOkEnabled);
  FUi->BtOk->setEnabled(FModel.actOkEnabled);
  FUpdating = false;
}
