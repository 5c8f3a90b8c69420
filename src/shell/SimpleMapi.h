#pragma once
// The address book of the e-mail card. This platform has no system address-book interface, so
// the session object is a stand-in: logging on works, and asking for addresses fails with the
// "Not supported" error. The card dialog therefore offers no "To..." at all.
#include <cstdint>
#include <string>
#include <vector>

#include "base/Exceptions.h"

class EMapiError : public Exception {
public:
  explicit EMapiError(int32_t code);
  EMapiError(int32_t code, const std::string& message) : Exception(message), ErrorCode(code) {}
  int32_t ErrorCode;
};

std::string MapiErrorText(int32_t code);  // empty for an unknown code

// Whether the system has an address book to pick recipients from (never, here), and what the
// user is told instead.
bool AddressBookAvailable();
extern const char* const kNoAddressBookText;

constexpr int32_t kMapiUserAbort = 1;
constexpr int32_t kMapiNotSupported = 26;

struct TMapiRecipient {
  int32_t Kind = 1;  // 1 To
  std::string Name;
  std::string Address;
  std::string AddressType = "SMTP";
};

class TSimpleMapi {
public:
  virtual ~TSimpleMapi();
  void LogOn(const std::string& profile, const std::string& password);
  bool LoggedOn() const { return FSession != 0; }

protected:
  uintptr_t FSession = 0;
};

class TMapiEmail : public TSimpleMapi {
public:
  // Shows the address book; true when recipients were chosen, false after a user abort.
  bool Address(const std::string& caption, int editFields);
  std::vector<TMapiRecipient> Recipients;
};
