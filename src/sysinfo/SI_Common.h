#pragma once
// Guarded calls: one failing query of the system must not stop the others. The exception mode
// says what a caught failure does.
#include <cstdint>
#include <functional>
#include <string>

enum TExceptionMode : uint8_t { emRaise = 0, emMessage = 1, emSilent = 2 };

// Runs `routine`; an exception becomes "<context>: <message>" and is raised again (emRaise),
// shown (emMessage) or swallowed (emSilent).
void GuardedCall(const std::string& context, TExceptionMode mode, const std::function<void()>& routine);
// The same for a routine that takes one further value.
void GuardedCallEx(int value, const std::string& context, TExceptionMode mode,
                   const std::function<void(int)>& routine);

// Where an area reads the system from. Tests point the folders at small fixture trees and turn
// the window-system query off, so the figures come from the trees alone.
struct TSystemRoots {
  std::string Sys = "/sys", Proc = "/proc", Etc = "/etc";
  bool WindowSystem = true;  // ask the display server for the screen mode when one is there
};

// Every area object: a class name for the guard's context and one refresh.
class TSIObject {
public:
  virtual ~TSIObject() = default;
  TSystemRoots Roots;
  virtual const char* ClassName() const = 0;
  virtual void GetInfo() = 0;
};
