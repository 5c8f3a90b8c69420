#pragma once
// Database-access engines and the SCSI pass-through layer: none of these exists on Linux, so
// every version text stays empty.
#include <string>

#include "sysinfo/SI_Common.h"

class TEngines : public TSIObject {
public:
  const char* ClassName() const override { return "TEngines"; }
  void GetInfo() override { BDE.clear(); ODBC.clear(); DAO.clear(); ADO.clear(); ASPI.clear(); }

  std::string BDE, ODBC, DAO, ADO, ASPI;
};
