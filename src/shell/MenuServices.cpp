#include "shell/MenuServices.h"

#include <QMessageBox>
#include <QPixmap>
#include <QString>

#include "engine/Inet.h"
#include "base/Exceptions.h"
#include "engine/tools.h"
#include "game/KTGlobal.h"
#include "shell/frmHighscoreNew.h"

std::function<void(QWidget*, const std::string&)> MenuMessageHook;
std::function<bool(QWidget*, const std::string&, bool)> MenuAskYesNoHook;
std::function<std::string(QWidget*, const TGameRequest&)> RunGameHook;
std::function<void(QWidget*)> EmailCardHook;
std::function<void(QWidget*)> HighscorePublishHook;
std::function<void(QWidget*)> DownloadLevelsHook;
std::function<int32_t(QWidget*)> WorldsBestDownloadHook;
std::function<void(QWidget*, const std::string&)> ErrorReportHook;
std::function<void(QWidget*)> ErrorSolutionLookupHook;
std::function<std::string(const std::string&)> VersionFetchHook;
std::function<bool(QWidget*)> NewHighscoreHook;

namespace {
const QString kTitle = QStringLiteral("Kestrune");

void Missing(const char* what) { Log(std::string(what) + " is not available in this build", ltWarning); }

void DefaultMessage(QWidget* owner, const std::string& text) {
  QMessageBox::information(owner, kTitle, QString::fromLatin1(text.c_str()));
}

bool DefaultAsk(QWidget* owner, const std::string& text, bool warning) {
  const QString t = QString::fromLatin1(text.c_str());
  const auto answer = warning ? QMessageBox::warning(owner, kTitle, t, QMessageBox::Yes | QMessageBox::No)
                              : QMessageBox::question(owner, kTitle, t, QMessageBox::Yes | QMessageBox::No);
  return answer == QMessageBox::Yes;
}
}  // namespace

void MenuMessage(QWidget* owner, const std::string& text) {
  if (MenuMessageHook) MenuMessageHook(owner, text);
  else DefaultMessage(owner, text);
}

bool MenuAskYesNo(QWidget* owner, const std::string& text, bool warning) {
  return MenuAskYesNoHook ? MenuAskYesNoHook(owner, text, warning) : DefaultAsk(owner, text, warning);
}

void ResetMenuServices() {
  MenuMessageHook = nullptr;
  MenuAskYesNoHook = nullptr;
  RunGameHook = [](QWidget* owner, const TGameRequest&) {
    Missing("The game window");
    MenuMessage(owner, "The game window is not available in this build.");
    return std::string();
  };
  EmailCardHook = [](QWidget*) { Missing("The e-mail card"); };
  HighscorePublishHook = [](QWidget*) { Missing("The highscore publication"); };
  DownloadLevelsHook = [](QWidget*) { Missing("The level download"); };
  WorldsBestDownloadHook = [](QWidget*) {
    Missing("The world's best download");
    return int32_t{-1};
  };
  ErrorReportHook = [](QWidget*, const std::string&) { Missing("The error report"); };
  ErrorSolutionLookupHook = [](QWidget*) {};  // nothing to look up until the service is there
  VersionFetchHook = [](const std::string& url) { return HttpGetText(url); };
  NewHighscoreHook = [](QWidget* owner) {
    TfrmHighscoreNew dialog(owner);
    return dialog.exec() == QDialog::Accepted;
  };
}

namespace {
struct TInitMenuServices {
  TInitMenuServices() { ResetMenuServices(); }
} InitMenuServices;
}  // namespace

QPixmap LoadMenuPicture(const std::string& name) {
  QPixmap picture;
  try {
    auto stream = OpenGfxResource("GFX", name);
    std::string bytes(static_cast<std::size_t>(stream->GetSize()), '\0');
    if (!bytes.empty()) stream->ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    picture.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<uint>(bytes.size()));
  } catch (const Exception& e) {
    Log("Could not load picture " + name + ": " + e.Message, ltWarning);
  }
  if (picture.isNull()) Log("Picture " + name + " could not be decoded", ltWarning);
  return picture;
}
