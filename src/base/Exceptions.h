#pragma once
// Exception family of the class-library layer. Every failure the Parts raise derives from
// Exception and carries an English message; EAbort cancels an action without a message.
#include <exception>
#include <string>

class Exception : public std::exception {
public:
  explicit Exception(std::string message) : Message(std::move(message)) {}
  const char* what() const noexcept override { return Message.c_str(); }
  std::string Message;
};

#define KT_DECLARE_EXCEPTION(Name, Base)                                                           \
  class Name : public Base {                                                                       \
  public:                                                                                          \
    using Base::Base;                                                                              \
  };

KT_DECLARE_EXCEPTION(EAbort, Exception)          // silent: the shell shows nothing for it
KT_DECLARE_EXCEPTION(EStreamError, Exception)
KT_DECLARE_EXCEPTION(EReadError, EStreamError)    // "Stream read error"
KT_DECLARE_EXCEPTION(EWriteError, EStreamError)   // "Stream write error"
KT_DECLARE_EXCEPTION(EFOpenError, EStreamError)
KT_DECLARE_EXCEPTION(EFCreateError, EStreamError)
KT_DECLARE_EXCEPTION(EListError, Exception)       // index out of range in a list
KT_DECLARE_EXCEPTION(EResNotFound, Exception)
KT_DECLARE_EXCEPTION(EConvertError, Exception)
KT_DECLARE_EXCEPTION(EOutOfMemory, Exception)

// Raises EAbort: ends the current action silently.
[[noreturn]] void Abort();
