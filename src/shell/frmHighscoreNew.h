#pragma once
// Asked after a game whose best score changed: upload the new highscore? Yes or No.
#include <QDialog>

class QLabel;
class QPushButton;

class TfrmHighscoreNew : public QDialog {
  Q_OBJECT
public:
  explicit TfrmHighscoreNew(QWidget* owner = nullptr);  // FormCreate

  QLabel* imgWindow;
  QLabel* Label4;  // "<score> Points,"
  QPushButton* btnYes;
  QPushButton* btnNo;
};
