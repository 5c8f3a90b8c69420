#pragma once
// Publication of the best local score to the score server, and its dialog; the new-highscore
// question. The entry points are in shell/OnlineServices.h.
#include <QDialog>
#include <array>
#include <cstdint>
#include <string>

#include "game/Options.h"
#include "shell/OnlineServices.h"

class QLabel;
class QLineEdit;
class QComboBox;
class QSpinBox;
class QRadioButton;
class QCheckBox;

extern const std::array<const char*, 10> ScoreDigitLetters;
extern const std::array<uint16_t, 55> ScoreCodeOrder;  // 1-based positions within a row

char EncodeDigit(char digit);
std::string BuildScoreCode(const TLevelStats* counters, int highIndex);
// The framed record of the settings (every empty field one blank).
std::string BuildHighscoreRecord(const TGameEnvironment& env, bool newGameMail);
// The replay upload body around the content of the best game.
extern const char* const kUploadBoundary;
std::string BuildUploadBody(const std::string& fieldName, const std::string& fileContent);

// Steps after the dialog's data went into the settings: false when the alias is missing (with
// its message) or the chain failed (with its message); true when published. Saves the settings
// in both latter cases.
enum class TPublishResult { NoAlias, Failed, Published };
TPublishResult PublishHighscore(bool newGameMail, const TOnlineUI& ui);

class TfrmHighscorePublish : public QDialog {
  Q_OBJECT
public:
  TfrmHighscorePublish(const TOnlineUI& ui, QWidget* parent = nullptr);
  QLabel* imgWindow;
  QLabel* Label2;
  QLineEdit *edtAlias, *Edit2, *Edit3, *Edit4, *Edit5;
  QComboBox* cbxCountry;
  QSpinBox* SpinEdit1;
  QRadioButton *rbtnMale, *rbtnFemale;
  QCheckBox* ckbNewGame;
  void FormShow();
  void FormToSettings();
  void btnPublishClick();

protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  const TOnlineUI& FUi;
};

class TfrmHighscoreNew : public QDialog {
  Q_OBJECT
public:
  TfrmHighscoreNew(int score, QWidget* parent = nullptr);
  QLabel* Label4;
};
