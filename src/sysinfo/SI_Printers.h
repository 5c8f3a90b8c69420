#pragma once
// Printers of the print spooler, from its queue list (printers.conf where readable, printcap)
// and the user's default.
#include <cstdint>
#include <string>

#include "base/Classes.h"
#include "sysinfo/SI_Common.h"

// Printer names of a printcap text ("name|alias:rest" entries; comments and continuations skipped).
void ParsePrintcap(const std::string& text, TStringList& names);

// The print server's queues of a printers.conf text: "<Printer name>" and "<DefaultPrinter name>"
// sections, each queue's DeviceURI as its port (without any user and password in it).
void ParsePrintersConf(const std::string& text, TStringList& names, TStringList& ports, std::string& defaultName);

class TPrinters : public TSIObject {
public:
  const char* ClassName() const override { return "TPrinters"; }
  void GetInfo() override;

  TStringList Names, Ports;
  int32_t DefaultIndex = -1;
};
