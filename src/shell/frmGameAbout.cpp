#include "shell/frmGameAbout.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <algorithm>

#include "base/SysUtils.h"
#include "engine/Inet.h"
#include "shell/DialogFrame.h"
#include "shell/MenuServices.h"
#include "shell/VersInfo.h"

const char* const kMakerWebSite = "http://www.orvalent.example/";

namespace {
const char* const kNotice = "Kestrune (C) Orvalent. All rights reserved.";

QLabel* MakeLabel(QWidget* parent, const char* name, int x, int y, int w, int h, const char* color) {
  auto* l = new QLabel(parent);
  l->setObjectName(name);
  l->setGeometry(x, y, w, h);
  l->setStyleSheet(QString("color: %1; background: transparent;").arg(color));
  return l;
}
}  // namespace

TfrmGameAbout::TfrmGameAbout(QWidget* owner) : QDialog(owner) {
  setObjectName("frmGameAbout");
  setWindowTitle("About");
  setFixedSize(400, 302);
  imgWindow = MakeLabel(this, "imgWindow", 0, 0, 400, 302, "black");
  imgWindow->setPixmap(LoadMenuPicture("MenuBack.jpg"));
  Image1 = MakeLabel(this, "Image1", 140, 20, 120, 120, "black");
  Image1->setPixmap(LoadMenuPicture("AboutPicture.jpg"));
  // shadows first, so the text lies over them
  lblVersion2 = MakeLabel(this, "lblVersion2", 21, 151, 360, 20, "black");
  lblVersion = MakeLabel(this, "lblVersion", 20, 150, 360, 20, "white");
  Label2 = MakeLabel(this, "Label2", 21, 181, 360, 20, "black");
  Label1 = MakeLabel(this, "Label1", 20, 180, 360, 20, "white");
  Label1->setText(kNotice);
  Label2->setText(kNotice);
  for (QLabel* l : {lblVersion, lblVersion2, Label1, Label2}) l->setAlignment(Qt::AlignHCenter);
  Label3 = MakeLabel(this, "Label3", 70, 210, 260, 22, "yellow");
  // the link on a dark band: yellow alone is lost on the pale picture
  Label3->setStyleSheet("color: yellow; background: rgba(0, 0, 0, 150); text-decoration: underline; font-weight: bold;");
  Label3->setAlignment(Qt::AlignHCenter);
  Label3->setText(kMakerWebSite);
  Label3->setCursor(Qt::PointingHandCursor);
  Label3->installEventFilter(this);
  // A larger font than the picture's layout assumes: the texts get the height they need, and the
  // link the width, centred as before.
  for (QLabel* l : {lblVersion, lblVersion2, Label1, Label2, Label3})
    l->setFixedHeight(std::max(l->height(), l->sizeHint().height()));
  const int linkWidth = std::min(width() - 8, std::max(Label3->width(), Label3->sizeHint().width() + 12));
  Label3->setGeometry((width() - linkWidth) / 2, Label3->y(), linkWidth, Label3->height());
  btnOk = new QPushButton("Ok", this);
  btnOk->setObjectName("btnOk");
  btnOk->setGeometry(160, 260, 80, 26);
  btnOk->setDefault(true);
  connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
  UseFixedDialogFrame(this);
}

void TfrmGameAbout::showEvent(QShowEvent* event) {
  lblVersion->setText("Version unknown");
  TdfsVersionInfoResource version;
  version.SetFilename("");
  if (version.FileVersion.Valid()) {
    const auto& v = version.FileVersion;
    lblVersion->setText(QString::fromLatin1(
        ("Version  " + Format("%d.%d.%d.%d", v.Major(), v.Minor(), v.Release(), v.Build())).c_str()));
  }
  lblVersion2->setText(lblVersion->text());
  QDialog::showEvent(event);
}

bool TfrmGameAbout::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Label3 && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    Label3Click();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TfrmGameAbout::Label3Click() { OpenURLInBrowser(kMakerWebSite); }
