#include "game/PreparedLevels.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "base/Streams.h"
#include "game/KTGlobal.h"
#include "game/LevelData.h"

namespace {

struct TPreparedLevel {
  std::shared_ptr<const TLevelFile> File;  // decoded once
  std::unique_ptr<TQVGameLevel> Built;     // one copy, handed out once
  bool Queued = false;
};

class TLevelWorker {
public:
  void Prepare(int32_t first) {
    std::lock_guard<std::mutex> g(Lock);
    for (int32_t i = 0; i < kShippedLevelCount; ++i) QueueBuild((first - 1 + i) % kShippedLevelCount + 1);
  }

  std::unique_ptr<TQVGameLevel> Take(int32_t number) {
    std::lock_guard<std::mutex> g(Lock);
    auto it = Levels.find(number);
    if (it == Levels.end() || !it->second.Built) return nullptr;
    std::unique_ptr<TQVGameLevel> level = std::move(it->second.Built);
    ++Taken;
    QueueBuild(number);  // the next copy, for a level played again
    return level;
  }

  void Dispose(std::unique_ptr<TQVGameLevel> level) {
    std::shared_ptr<TQVGameLevel> held(std::move(level));
    std::lock_guard<std::mutex> g(Lock);
    QueueJob([held]() mutable { held.reset(); });
  }

  void Wait() {
    std::unique_lock<std::mutex> g(Lock);
    Idle.wait(g, [this] { return Jobs.empty() && !Busy; });
  }

  void Forget() {
    std::unique_lock<std::mutex> g(Lock);
    Idle.wait(g, [this] { return Jobs.empty() && !Busy; });
    Levels.clear();
  }

  int32_t TakenCount() {
    std::lock_guard<std::mutex> g(Lock);
    return Taken;
  }

private:
  // Lock held.
  void QueueJob(std::function<void()> job) {
    Jobs.push_back(std::move(job));
    if (!Thread.joinable()) Thread = std::thread([this] { Run(); });
    Wake.notify_all();
  }

  // Lock held.
  void QueueBuild(int32_t n) {
    TPreparedLevel& p = Levels[n];
    if (p.Queued || p.Built) return;
    p.Queued = true;
    QueueJob([this, n] { Build(n); });
  }

  // On the worker.
  void Build(int32_t n) {
    std::shared_ptr<const TLevelFile> file;
    {
      std::lock_guard<std::mutex> g(Lock);
      file = Levels[n].File;
    }
    std::unique_ptr<TQVGameLevel> level;
    try {
      if (!file) {
        // As the plain load reads it: the whole container decoded, then the file read.
        std::unique_ptr<TStream> stream = OpenGfxResource("LVL", std::to_string(n));
        TMemoryStream plain;
        LoadLevelContainer(*stream, plain);
        plain.SetPosition(0);
        auto decoded = std::make_shared<TLevelFile>();
        ReadLevelFile(plain, *decoded);
        CheckLevelFile(*decoded);  // what the build from a file checks again
        file = std::move(decoded);
      }
      level = std::make_unique<TQVGameLevel>(nullptr, *file, nullptr);
    } catch (...) {
      file.reset();
      level.reset();
    }
    std::lock_guard<std::mutex> g(Lock);
    TPreparedLevel& p = Levels[n];
    p.Queued = false;
    p.File = file;
    p.Built = std::move(level);
  }

  void Run() {
    std::unique_lock<std::mutex> g(Lock);
    for (;;) {
      Wake.wait(g, [this] { return !Jobs.empty(); });
      std::function<void()> job = std::move(Jobs.front());
      Jobs.pop_front();
      Busy = true;
      g.unlock();
      try {
        job();
      } catch (...) {
      }
      job = nullptr;  // a disposed level is freed here, off the lock
      g.lock();
      Busy = false;
      if (Jobs.empty()) Idle.notify_all();
    }
  }

  std::mutex Lock;
  std::condition_variable Wake, Idle;
  std::deque<std::function<void()>> Jobs;
  std::map<int32_t, TPreparedLevel> Levels;
  bool Busy = false;
  int32_t Taken = 0;
  std::thread Thread;
};

// Never destroyed: it holds nothing that must outlive the process (unlike the save worker), and
// a child forked from the game that exits must not join or tear down a thread it does not have.
TLevelWorker& Worker() {
  static TLevelWorker* worker = new TLevelWorker;
  return *worker;
}

}  // namespace

void PrepareShippedLevels(int32_t first) { Worker().Prepare(first < 1 || first > kShippedLevelCount ? 1 : first); }

std::unique_ptr<TQVGameLevel> TakePreparedLevel(int32_t number, TGameGraphics* graphics, TGameSounds* sounds) {
  if (number < 1 || number > kShippedLevelCount) return nullptr;
  std::unique_ptr<TQVGameLevel> level = Worker().Take(number);
  if (level) {
    level->Graphics = graphics;
    level->Sounds = sounds;
  }
  return level;
}

void DisposeLevel(std::unique_ptr<TQVGameLevel> level) {
  if (level) Worker().Dispose(std::move(level));
}

void WaitForPreparedLevels() { Worker().Wait(); }
void ForgetPreparedLevels() { Worker().Forget(); }
int32_t PreparedLevelsTaken() { return Worker().TakenCount(); }
