#pragma once
// Programs started with the desktop session: the autostart entries of the user and the system.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sysinfo/SI_Common.h"

using TRunEntries = std::vector<std::pair<std::string, std::string>>;  // name, command

class TStartup : public TSIObject {
public:
  const char* ClassName() const override { return "TStartup"; }
  void GetInfo() override;
  // Entries of one autostart folder.
  static void ReadFolder(const std::string& dir, TRunEntries& list);
  int32_t RunsCount() const {
    return static_cast<int32_t>(User_Runs.size() + HKLM_Runs.size() + RunOnce.size() + User_Folder.size() +
                                Common_Folder.size() + WinINI.size());
  }

  // The registry and WIN.INI lists have no Linux counterpart and stay empty.
  TRunEntries User_Runs, HKLM_Runs, RunOnce, User_Folder, Common_Folder, WinINI;
};
