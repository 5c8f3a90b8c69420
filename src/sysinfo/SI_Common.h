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

// Every area object: a class name for the guard's context and one refresh.
class TSIObject {
public:
  virtual ~TSIObject() = default;
  virtual const char* ClassName() const = 0;
  virtual void GetInfo() = 0;
};
