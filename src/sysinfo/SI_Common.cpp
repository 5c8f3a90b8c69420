#include "sysinfo/SI_Common.h"

#include "base/Exceptions.h"
#include "sysinfo/SI_Console.h"

namespace {
void ApplyMode(TExceptionMode mode, const std::string& text) {
  switch (mode) {
    case emRaise: throw Exception(text);
    case emMessage: ShowErrorMessage(text); break;
    case emSilent: break;
  }
}
}  // namespace

void GuardedCall(const std::string& context, TExceptionMode mode, const std::function<void()>& routine) {
  GuardedCallEx(0, context, mode, [&](int) { routine(); });
}

void GuardedCallEx(int value, const std::string& context, TExceptionMode mode,
                   const std::function<void(int)>& routine) {
  std::string failure;
  try {
    routine(value);
    return;
  } catch (const Exception& e) {
    failure = context + ": " + e.Message;
  } catch (const std::exception& e) {
    // the standard library's failures (allocation, ranges) are queries failing just the same
    failure = context + ": " + e.what();
  }
  ApplyMode(mode, failure);
}
