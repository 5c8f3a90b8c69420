#include "shell/SimpleMapi.h"

#include "base/SysUtils.h"

std::string MapiErrorText(int32_t code) {
  static const char* const texts[] = {"",
                                      "User abort",
                                      "General MAPI failure",
                                      "MAPI login failure",
                                      "Disk full",
                                      "Insufficient memory",
                                      "Access denied",
                                      "",
                                      "Too many sessions",
                                      "Too many files were specified",
                                      "Too many recipients were specified",
                                      "A specified attachment was not found",
                                      "Attachment open failure",
                                      "Attachment write failure",
                                      "Unknown recipient",
                                      "Bad recipient type",
                                      "No messages",
                                      "Invalid message",
                                      "Text too large",
                                      "Invalid session",
                                      "Type not supported",
                                      "A recipient was specified ambiguously",
                                      "Message in use",
                                      "Network failure",
                                      "Invalid edit fields",
                                      "Invalid recipients",
                                      "Not supported"};
  if (code < 0 || code >= static_cast<int32_t>(std::size(texts))) return "";
  return texts[code];
}

EMapiError::EMapiError(int32_t code)
    : Exception("MAPI Error: (" + IntToStr(code) + ") \"" + MapiErrorText(code) + "\""), ErrorCode(code) {}

const char* const kNoAddressBookText =
    "There is no address book on this system: addresses are typed, separated by commas.";

bool AddressBookAvailable() { return false; }

TSimpleMapi::~TSimpleMapi() { FSession = 0; }

void TSimpleMapi::LogOn(const std::string&, const std::string&) {
  if (FSession == 0) FSession = 1;
}

bool TMapiEmail::Address(const std::string&, int) {
  // No address book on this platform: the recipients are typed.
  throw EMapiError(kMapiNotSupported, kNoAddressBookText);
}
