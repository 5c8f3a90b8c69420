#include "shell/frmHighscoreNew.h"

#include <QLabel>
#include <QPushButton>

#include "game/Options.h"
#include "shell/MenuServices.h"

namespace {
QLabel* MakeLabel(QWidget* parent, const char* name, int y, const QString& text) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(name);
  l->setGeometry(10, y, 380, 24);
  l->setAlignment(Qt::AlignHCenter);
  l->setWordWrap(true);
  l->setStyleSheet("color: white; background: transparent;");
  return l;
}
}  // namespace

TfrmHighscoreNew::TfrmHighscoreNew(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName("frmHighscoreNew");
  setWindowTitle("A New Highscore!");
  setFixedSize(400, 302);
  imgWindow = new QLabel(this);
  imgWindow->setObjectName("imgWindow");
  imgWindow->setGeometry(0, 0, 400, 302);
  imgWindow->setPixmap(LoadMenuPicture("MenuBack.jpg"));
  MakeLabel(this, "Label1", 40, "Congratulations!");
  Label4 = MakeLabel(this, "Label4", 80, QString::number(GameEnvironment.Highscores[0].Score) + " Points,");
  MakeLabel(this, "Label2", 110, "a new highscore!");
  MakeLabel(this, "Label3", 150, "Do you want to upload it to the worldwide web ranking list?")->resize(380, 48);
  btnYes = new QPushButton("Yes", this);
  btnYes->setObjectName("btnYes");
  btnYes->setGeometry(110, 250, 80, 26);
  btnNo = new QPushButton("No", this);
  btnNo->setObjectName("btnNo");
  btnNo->setGeometry(210, 250, 80, 26);
  connect(btnYes, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnNo, &QPushButton::clicked, this, &QDialog::reject);
}
