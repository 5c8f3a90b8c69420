#pragma once
// The about box: the program's version from its version resource and the maker's notice.
#include <QDialog>

class QLabel;
class QPushButton;

extern const char* const kMakerWebSite;

class TfrmGameAbout : public QDialog {
  Q_OBJECT
public:
  explicit TfrmGameAbout(QWidget* owner = nullptr);  // FormCreate

  QLabel* imgWindow;
  QLabel* Image1;
  QLabel* lblVersion;
  QLabel* lblVersion2;  // shadow copy
  QLabel* Label1;       // the maker's notice
  QLabel* Label2;       // its shadow
  QLabel* Label3;       // link to the maker's web site
  QPushButton* btnOk;

protected:
  void showEvent(QShowEvent* event) override;  // FormShow
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void Label3Click();
};
