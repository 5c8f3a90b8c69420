#pragma once
// Printers of the print spooler, from its printcap list and the user's default.
#include <cstdint>
#include <string>

#include "base/Classes.h"
#include "sysinfo/SI_Common.h"

// Printer names of a printcap text ("name|alias:rest" entries; comments and continuations skipped).
void ParsePrintcap(const std::string& text, TStringList& names);

class TPrinters : public TSIObject {
public:
  const char* ClassName() const override { return "TPrinters"; }
  void GetInfo() override;

  TStringList Names, Ports;
  int32_t DefaultIndex = -1;
};
