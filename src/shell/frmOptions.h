#pragma once
// The options window: a Qt form (frmOptions.ui) over the dialog model of the game layer. The
// model holds every rule; this class copies its state into the controls and the player's
// changes back, and turns the window's events into the model's handlers.
#include <QDialog>
#include <memory>

#include "game/OptionsDialog.h"

namespace Ui {
class frmOptions;
}

class TfrmGameOptions : public QDialog {
  Q_OBJECT
public:
  // Loads the settings; the devices of `direct3D` (may be null; not owned) are listed when
  // first asked for, so the slow graphics probe stays out of the program's start.
  explicit TfrmGameOptions(TzrD3D8* direct3D, QWidget* parent = nullptr);
  // Saves the settings.
  ~TfrmGameOptions() override;

  TGameOptionsDialog& Model() {
    ListDevices();
    return FModel;
  }
  // Enumerates and lists the devices, once.
  void ListDevices();
  // The Direct3D object to list the devices of, when it was not known at creation; only before
  // the devices are listed.
  void SetDirect3D(TzrD3D8* direct3D) {
    if (!FDevicesListed) FModel.Direct3D = direct3D;
  }

  // The selection functions of the shell.
  TzrD3DDeviceInfo* FindSelectedDevice() { return Model().FindSelectedDevice(); }
  bool HasSelectedDevice() { return Model().HasSelectedDevice(); }
  bool IsWindowed() { return Model().IsWindowed(); }
  void GetSelectedDisplayMode(TzrD3DMode& mode) { Model().GetSelectedDisplayMode(mode); }

public slots:
  // Escape and the window's close command act as Cancel: nothing is stored. (Refusing them
  // would leave a user who does not see the Cancel button no way out.)
  void reject() override;

protected:
  void showEvent(QShowEvent* event) override;

private:
  void ApplyTexts();  // captions and ranges from the model, so the layout holds no rule of its own
  void FormShow();
  void cbxDeviceChange(int index);
  void DisplayModeClicked();
  void BtCancelClick();
  void actOkExecute();
  void ModelToControls();
  void UpdateControls();  // enabled states and checks of the mode buttons and of actOk

  TGameOptionsDialog FModel;
  std::unique_ptr<Ui::frmOptions> FUi;
  bool FUpdating = false;
  bool FDevicesListed = false;
};
