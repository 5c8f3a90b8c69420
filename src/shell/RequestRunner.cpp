#include "shell/RequestRunner.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>
#include <exception>
#include <thread>
#include <vector>

#include "engine/Inet.h"

namespace {
// GUI thread only: the cancel flags of the requests in progress.
std::vector<std::atomic<bool>*>& Active() {
  static std::vector<std::atomic<bool>*> active;
  return active;
}

struct TRequestState {
  std::atomic<bool> Done{false};
  std::exception_ptr Error;
};
}  // namespace

TRequestRunner::TRequestRunner() : FCancel(std::make_shared<std::atomic<bool>>(false)) {}

TRequestRunner::~TRequestRunner() = default;

void TRequestRunner::Cancel() { *FCancel = true; }
void TRequestRunner::Reset() { *FCancel = false; }

bool TRequestRunner::Busy() { return !Active().empty(); }

void TRequestRunner::CancelAll() {
  for (std::atomic<bool>* flag : Active()) *flag = true;
}

void TRequestRunner::Run(const std::function<void()>& request) {
  if (*FCancel) throw ERequestCancelled("The request was cancelled");
  std::shared_ptr<std::atomic<bool>> cancel = FCancel;  // outlives a runner freed meanwhile
  auto state = std::make_shared<TRequestState>();
  Active().push_back(cancel.get());
  std::thread worker([&request, state, cancel] {
    SetThreadCancelFlag(cancel.get());
    try {
      request();
    } catch (...) {
      state->Error = std::current_exception();
    }
    SetThreadCancelFlag(nullptr);
    state->Done = true;
    // wakes the GUI thread's wait below
    if (QCoreApplication* app = QCoreApplication::instance())
      QMetaObject::invokeMethod(app, [] {}, Qt::QueuedConnection);
  });
  if (QCoreApplication::instance()) {
    while (!state->Done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  worker.join();
  auto& active = Active();
  active.erase(std::find(active.begin(), active.end(), cancel.get()));
  if (!state->Error) return;
  if (*cancel) {
    try {
      std::rethrow_exception(state->Error);
    } catch (const ERequestCancelled&) {
      throw;
    } catch (...) {
      throw ERequestCancelled("The request was cancelled");
    }
  }
  std::rethrow_exception(state->Error);
}
