#include "shell/Downloads.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>

#include "base/Streams.h"
#include "base/SysUtils.h"
#include "engine/Inet.h"
#include "engine/tools.h"
#include "game/KTGlobal.h"
#include "game/LevelData.h"
#include "game/Options.h"
#include "game/ReplayPack.h"
#include "game/ServerReplies.h"
#include "game/UserFiles.h"
#include "shell/DialogFrame.h"

namespace {
// Anything larger than these is not a level or a replay pack of this game.
constexpr int64_t kMaxLevelFileBytes = 8 * 1024 * 1024;
constexpr int64_t kMaxWorldBestBytes = 32 * 1024 * 1024;
// Below this the level download stops: the rest of the disk is the user's.
constexpr int64_t kMinFreeDiskBytes = 64 * 1024 * 1024;

int64_t FreeDiskBytes(const std::string& dir) {
  if (FreeDiskBytesHook) return FreeDiskBytesHook(dir);
  struct statvfs fs {};
  if (::statvfs(dir.c_str(), &fs) != 0) return -1;
  return static_cast<int64_t>(fs.f_bavail) * static_cast<int64_t>(fs.f_frsize);
}

class TBoundedMemoryStream : public TMemoryStream {
public:
  explicit TBoundedMemoryStream(int64_t limit) : Limit(limit) {}
  int32_t Write(const void* buffer, int32_t count) override {
    if (GetPosition() + count > Limit) throw EWriteError("The download is larger than expected");
    return TMemoryStream::Write(buffer, count);
  }
  std::string Bytes() { return std::string(reinterpret_cast<const char*>(Memory()), static_cast<size_t>(GetSize())); }

private:
  int64_t Limit;
};

std::string Fetch(const std::string& url, int64_t limit, const TOnlineUI& ui) {
  TBoundedMemoryStream stream(limit);
  ui.DoRunRequest([&] { HttpGetToStream(url, stream); });
  return stream.Bytes();
}

void Save(const std::string& fileName, const std::string& bytes) {
  if (!SaveUserFile(fileName, bytes))
    throw EFCreateError("Cannot create file \"" + fileName + "\". " + std::strerror(errno));
}

// Stores n.scn, then n.lvl (the level counts once its .lvl is there). When the .lvl cannot be
// stored the .scn goes again.
void SaveLevelPair(const std::string& stem, const std::string& scene, const std::string& level) {
  Save(stem + ".scn", scene);
  try {
    Save(stem + ".lvl", level);
  } catch (...) {
    DeleteFile(stem + ".scn");
    throw;
  }
}

// A .scn without its .lvl (a run stopped between the two saves, or an older version's
// download) where the next level would go: it is not a level, and no later run may take it
// for half of one.
void RemoveLoneScene(int n) {
  const std::string stem = UserDataDir + std::to_string(n);
  if (!FileExists(stem + ".scn") || FileExists(stem + ".lvl")) return;
  if (DeleteFile(stem + ".scn")) Log("Removed " + std::to_string(n) + ".scn, which had no level beside it", ltInfo);
}

// Raises unless the bytes are a level file the game can load.
void CheckLevelBytes(const std::string& bytes) {
  TReadOnlyMemoryStream container(bytes.data(), bytes.size());
  TMemoryStream plain;
  LoadLevelContainer(container, plain);
  TLevelFile level;
  ReadLevelFile(plain, level);
  CheckLevelFile(level);
}
}  // namespace

std::function<int64_t(const std::string&)> FreeDiskBytesHook;

int DownloadLevels(std::atomic<bool>& running, int& lastLevel, const TOnlineUI& ui, std::string* stopNote) {
  int downloaded = 0;
  int n = CountUserLevels() + 1;
  if (stopNote) stopNote->clear();
  try {
    if (!CheckInternet(true)) Abort();
    ui.DoRunRequest([n] { RemoveLoneScene(n); });
    const TGameEnvironment& env = GameEnvironment;
    std::string base = "http://" + env.InternalHost + env.InternalBase + "levels/";
    while (running) {
      ui.DoProcessMessages();
      if (!running) break;
      if (downloaded >= kMaxLevelsPerRun) {
        Log("The level download stopped after " + std::to_string(downloaded) + " levels", ltInfo);
        if (stopNote)
          *stopNote = "The download stopped after " + std::to_string(downloaded) + " levels; run it again for more.";
        break;
      }
      const int64_t free = FreeDiskBytes(UserDataDir);
      if (free >= 0 && free < kMinFreeDiskBytes) {
        Log("The level download stopped: the disk is nearly full", ltWarning);
        if (stopNote) *stopNote = "The download stopped because the disk is nearly full.";
        break;
      }
      std::string name = std::to_string(n);
      // Both files are in memory and the level checked before either is stored: a transfer
      // that ends midway (a time-out, the program's end) leaves no half of the pair.
      const std::string scene = Fetch(base + name + ".scn", kMaxLevelFileBytes, ui);
      const std::string level = Fetch(base + name + ".lvl", kMaxLevelFileBytes, ui);
      // the check and the saves (each synced to the disk) run off the GUI thread too
      ui.DoRunRequest([&] {
        try {
          CheckLevelBytes(level);
        } catch (const std::exception& e) {
          Log("Downloaded level " + name + " is not usable: " + e.what(), ltWarning);
          throw;
        }
        SaveLevelPair(UserDataDir + name, scene, level);
      });
      ++n;
      ++downloaded;
    }
  } catch (const std::exception& e) {
    // the server has no further level (or the connection ended): the pairs so far stay
    Log("The level download ended: " + TextExcerpt(e.what(), 200), ltInfo);
  }
  running = false;
  lastLevel = n - 1;
  return downloaded;
}

std::string DownloadLevelsResultText(int downloaded, int lastLevel) {
  if (downloaded > 0) return "You have now " + std::to_string(lastLevel) + " levels available";
  return "No new levels available";
}

TWorldBestResult FetchWorldBest(const TOnlineUI& ui) {
  static const char* const kInvalidPackText =
      "The world's best game file is invalid. Try to execute this operation again or check if there's a new version "
      "available.";
  static const char* const kLevelsMissingText =
      "You need to download the last available levels from the internet before being able to replay the world's "
      "best game.";
  TWorldBestResult r;
  r.Ok = true;
  bool levelsTold = false;
  TGameEnvironment& env = GameEnvironment;
  try {
    if (!CheckInternet(true)) Abort();
    r.CheckState = dsRunning;
    ui.DoProcessMessages();
    std::string base = "http://" + env.HighScoreHost + env.HighScoreBase;
    std::string url = base + "firstplace.php?f=" + (env.WorldBestFile.empty() ? "REQ" : QueryEscape(env.WorldBestFile));
    std::string reply;
    ui.DoRunRequest([&] { reply = HttpGetText(url, kMaxFirstPlaceReplyBytes); });
    r.CheckState = dsDone;
    std::string packFile = UserDataDir + "worldbest.gmp";
    std::string fileName;
    const TFirstPlaceReply kind = ParseFirstPlaceReply(reply, fileName);
    if (kind == TFirstPlaceReply::Current) {
      r.DownloadState = dsDone;
    } else if (kind == TFirstPlaceReply::Unavailable) {
      r.DownloadState = dsFailed;
      ui.DoMessage("The World's best replay file is not currently available on the server. Please try again later",
                   TBoxKind::Warning);
      r.Ok = false;
    } else {
      // The reply names a file of the server's upload folder: nothing else is fetched.
      if (kind != TFirstPlaceReply::NewFile) throw Exception("The server's reply is not a file name");
      r.DownloadState = dsRunning;
      env.WorldBestFile.clear();
      std::string bytes = Fetch(base + "upload/" + QueryEscape(fileName), kMaxWorldBestBytes, ui);
      // Only a pack the game can play replaces the stored one.
      const TReplayPackVerdict v = CheckReplayPackBytes(bytes, CountUserLevels());
      if (v.Check == TReplayPackCheck::Playable) {
        Save(packFile, bytes);
        env.WorldBestFile = SettingsText(TTextField::WorldBestFile, fileName);
        r.DownloadState = dsDone;
      } else {
        Log("The world's best game file " + TextExcerpt(fileName, 30) + " is not kept: " + v.Fault, ltWarning);
        r.DownloadState = dsFailed;
        r.Ok = false;
        if (v.Check == TReplayPackCheck::LevelsMissing) {
          // Sound, but for levels not here yet: asked for again ("REQ") once they are.
          ui.DoMessage(kLevelsMissingText, TBoxKind::Warning);
          levelsTold = true;
        } else {
          ui.DoMessage(kInvalidPackText, TBoxKind::Critical);
        }
      }
      SaveSettings();
    }
    const TReplayPackVerdict stored = CheckReplayPackFile(packFile, CountUserLevels());
    if (stored.Check == TReplayPackCheck::Playable) {
      for (int k = 2; k <= stored.Levels; ++k) r.Levels.push_back("Level " + std::to_string(k));
    } else if (stored.Check == TReplayPackCheck::LevelsMissing) {
      r.DownloadState = dsFailed;
      if (!levelsTold) ui.DoMessage(kLevelsMissingText, TBoxKind::Warning);
      r.Ok = false;
    } else if (r.Ok) {
      // The server thinks it current, but what is stored (or missing) cannot be played: the
      // next query asks for a new one.
      Log("The stored world's best game file cannot be played: " + stored.Fault, ltWarning);
      r.DownloadState = dsFailed;
      ui.DoMessage(kInvalidPackText, TBoxKind::Critical);
      r.Ok = false;
      env.WorldBestFile.clear();
      SaveSettings();
    }
  } catch (const std::exception& e) {
    if (r.CheckState != dsDone) r.CheckState = dsFailed;
    r.DownloadState = dsFailed;
    Log(std::string("Error fetching world's best game replay file: ") + TextExcerpt(e.what(), 200), ltWarning);
    // a cancel closes the dialog: nothing more to tell
    if (!dynamic_cast<const ERequestCancelled*>(&e)) ui.DoMessage("Error fetching file from server", TBoxKind::Critical);
    r.Ok = false;
  }
  return r;
}

TfrmDownloadLevels::TfrmDownloadLevels(const TOnlineUI& ui, QWidget* parent) : QDialog(parent), FUi(ui) {
  setWindowTitle("Download levels");
  auto* layout = new QVBoxLayout(this);
  stxtTopMsg = new QLabel;
  stxtTopMsg->hide();
  layout->addWidget(stxtTopMsg);
  stxtTopMsg->setTextFormat(Qt::PlainText);
  lblText = new QLabel("Fetching new levels from internet");
  lblText->setTextFormat(Qt::PlainText);
  layout->addWidget(lblText);
  anim = new QProgressBar;
  anim->setRange(0, 0);
  anim->setTextVisible(false);
  anim->hide();
  layout->addWidget(anim);
  btnOk = new QPushButton("Cancel");
  layout->addWidget(btnOk);
  connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
  UseFixedDialogFrame(this);
}

void TfrmDownloadLevels::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (FStarted) return;
  FStarted = true;
  // After the window is up: the requests block the GUI thread.
  QTimer::singleShot(0, this, [this] { Work(); });
}

void TfrmDownloadLevels::Work() {
  repaint();
  anim->show();
  TOnlineUI ui = FUi;
  if (!ui.ProcessMessages) ui.ProcessMessages = [] { QApplication::processEvents(); };
  int lastLevel = 0;
  std::string note;
  Downloaded = DownloadLevels(Running, lastLevel, ui, &note);
  anim->hide();
  // The result takes the place of the fetching (or stopping) line.
  if (Downloaded > 0) {
    stxtTopMsg->setText(QString::fromStdString(DownloadLevelsResultText(Downloaded, lastLevel)));
    stxtTopMsg->show();
    lblText->hide();
  } else {
    lblText->setText(QString::fromStdString(DownloadLevelsResultText(0, lastLevel)));
  }
  if (!note.empty()) {
    lblText->setText(QString::fromStdString(note));
    lblText->show();
  }
  btnOk->setText("OK");
  btnOk->setEnabled(true);
  btnOk->setFocus();
  FDone = true;
}

void TfrmDownloadLevels::Stop() {
  if (FDone || !Running) return;
  // The loop stops after the pair in progress, which its own time-outs bound; until then the
  // dialog says so, and the result line tells what is there at the end.
  Running = false;
  lblText->setText(QString::fromUtf8("Stopping after the level in progress\u2026"));
  btnOk->setEnabled(false);
}

void TfrmDownloadLevels::btnOkClick() {
  if (!FDone) Stop();
  else accept();
}

void TfrmDownloadLevels::reject() {
  // Esc and the close box do what Cancel does; the program's end cancels the transfer itself
  // (TRequestRunner::CancelAll) and closes the window once the loop is out.
  if (!FDone) Stop();
  else QDialog::reject();
}

void ShowDownloadLevelsDialog(QWidget* parent, const TOnlineUI& ui) {
  TfrmDownloadLevels form(ui, parent);
  form.exec();
}

TfrmDownloadWorldBest::TfrmDownloadWorldBest(const TOnlineUI& ui, QWidget* parent) : QDialog(parent), FUi(ui) {
  setWindowTitle("World's Best Game Replay");
  auto* layout = new QVBoxLayout(this);
  auto* states = new QGridLayout;
  pbx1 = new QLabel;
  pbx2 = new QLabel;
  pbx1->setFixedSize(16, 16);
  pbx2->setFixedSize(16, 16);
  states->addWidget(pbx1, 0, 0);
  states->addWidget(new QLabel("Checking server for new file"), 0, 1);
  states->addWidget(pbx2, 1, 0);
  states->addWidget(new QLabel("Downloading file"), 1, 1);
  layout->addLayout(states);
  cbxLevel = new QComboBox;
  cbxLevel->addItems({"All Levels", "Level 1"});
  layout->addWidget(cbxLevel);
  auto* buttons = new QHBoxLayout;
  btnReplay = new QPushButton("&Replay");
  btnReplay->setEnabled(false);
  btnCancel = new QPushButton("&Cancel");
  buttons->addWidget(btnReplay);
  buttons->addWidget(btnCancel);
  layout->addLayout(buttons);
  connect(btnReplay, &QPushButton::clicked, this, [this] {
    Result = cbxLevel->currentIndex();
    accept();
  });
  connect(btnCancel, &QPushButton::clicked, this, [this] { reject(); });
  UseFixedDialogFrame(this);
}

int TfrmDownloadWorldBest::Execute() {
  Result = -1;
  if (exec() != QDialog::Accepted) Result = -1;
  return Result;
}

void TfrmDownloadWorldBest::reject() {
  Result = -1;
  FUi.DoCancelRequest();
  QDialog::reject();
}

void TfrmDownloadWorldBest::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (FStarted) return;
  FStarted = true;
  QTimer::singleShot(0, this, [this] { Work(); });
}

void TfrmDownloadWorldBest::ShowStates(int check, int download) {
  // The three state pictures: running, done, failed.
  static const QStyle::StandardPixmap icons[] = {QStyle::SP_BrowserReload, QStyle::SP_DialogApplyButton,
                                                 QStyle::SP_MessageBoxCritical};
  auto put = [this](QLabel* box, int state) {
    if (state <= dsNone || state > dsFailed) box->clear();
    else box->setPixmap(style()->standardIcon(icons[state - 1]).pixmap(16, 16));
  };
  put(pbx1, check);
  put(pbx2, download);
  repaint();
}

void TfrmDownloadWorldBest::Work() {
  TOnlineUI ui = FUi;
  if (!ui.ProcessMessages) ui.ProcessMessages = [] { QApplication::processEvents(); };
  ShowStates(dsRunning, dsNone);
  TWorldBestResult r = FetchWorldBest(ui);
  ShowStates(r.CheckState, r.DownloadState);
  for (const std::string& level : r.Levels) cbxLevel->addItem(QString::fromStdString(level));
  btnReplay->setEnabled(r.Ok);
  Finished = true;
}

int ExecuteDownloadWorldBest(QWidget* parent, const TOnlineUI& ui) {
  TfrmDownloadWorldBest form(ui, parent);
  return form.Execute();
}
