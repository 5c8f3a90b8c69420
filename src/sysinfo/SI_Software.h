#pragma once
// Installed software: the packages the package manager lists as installed.
#include <string>

#include "base/Classes.h"
#include "sysinfo/SI_Common.h"

// Installed packages of a dpkg status text; `commands` gets each one's removal command.
void ParseDpkgStatus(const std::string& text, TStringList& products, TStringList& commands);

class TSoftware : public TSIObject {
public:
  const char* ClassName() const override { return "TSoftware"; }
  void GetInfo() override;

  TStringList Products;
  TStringList UninstallCommands;  // parallel to Products
};
