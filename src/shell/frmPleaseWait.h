#pragma once
// The wait window shown around every blocking online request: the caller creates it, sets the
// message, shows it (which paints it at once) and deletes it after the request.
#include <QDialog>
#include <QPixmap>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QTimer;

class TfrmPleaseWait : public QDialog {
  Q_OBJECT
public:
  explicit TfrmPleaseWait(QWidget* owner = nullptr);

  // "Please wait while Kestrune " + text
  void SetMessage(const std::string& text);
  std::string Message() const { return FMessage; }
  // Shows the window modeless and paints it now, since the caller blocks next.
  void ShowNow();
  // The window on screen at present, or null.
  static TfrmPleaseWait* Current() { return FCurrent; }

  QLabel* imgWindow;
  QLabel* lblForm;
  QLabel* animForm;
  QPushButton* btnCancel;
  // Cancel pressed, or the window closed: the request in progress is aborted.
  std::function<void()> OnCancel;

protected:
  void showEvent(QShowEvent* event) override;  // starts the animation
  void reject() override;                        // Esc and the close box cancel

private:
  void NextFrame();
  std::vector<QPixmap> FFrames;
  std::size_t FFrame = 0;
  QTimer* FAnimTimer;
  std::string FMessage;
  static TfrmPleaseWait* FCurrent;

public:
  ~TfrmPleaseWait() override;
};
