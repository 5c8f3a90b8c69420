#pragma once
// A small blocking SMTP client over libcurl: one message, plain text with at most one file
// attached, sent without authentication. Connect and whole-transfer time-outs keep a dead
// server from holding the program up.
#include <atomic>
#include <cstdint>
#include <string>

#include "base/Exceptions.h"

// The message could not be built or sent (refused, time-out, rejected by the server).
KT_DECLARE_EXCEPTION(ESmtpError, Exception)

struct TMailMessage {
  std::string From;            // sender address
  std::string To;              // the one recipient
  std::string Subject;
  std::string Body;            // plain text, CR LF or LF line ends, Windows-1252 bytes
  std::string AttachmentFile;  // path of the file to attach; empty: none
  int Priority = 3;            // 1 highest .. 5 lowest, written as X-Priority
};

class TSmtpClient {
public:
  // "host" or "host:port" (port 25 when none is given).
  std::string Server;
  uint32_t ConnectTimeoutMs = 10000;
  uint32_t TimeoutMs = 60000;  // whole dialogue, connect included
  // Set from any thread to abort the dialogue in progress (it then fails with ESmtpError).
  std::atomic<bool>* CancelFlag = nullptr;

  // Raises ESmtpError on any failure.
  void Send(const TMailMessage& message);
};
