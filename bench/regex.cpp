// The error-list lookup: a dozen expressions, each searched over a whole trace log of about
// 1 MB with modifiers i and m on, compared with std::regex and PCRE2 (interpreter and JIT) in
// the same run. Prints the time ratios at the end, then the time of the whole walk over hostile
// lists of the server's size limit against its bound.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <benchmark/benchmark.h>
#include <pcre2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "BenchReport.h"
#include "game/ServerReplies.h"
#include "shell/ErrorSolutions.h"
#include "shell/RegularExpressions.h"

namespace {

struct Expr {
  const char* ours;  // also PCRE2's syntax
  const char* std;   // ECMAScript: no dot-all, so "." that may cross lines is spelled out
};

const std::vector<Expr> kList = {
    {"D3DERR_NOTAVAILABLE", "D3DERR_NOTAVAILABLE"},
    {"^\\* Msg 8100000[0-9A-F]: ", "^\\* Msg 8100000[0-9A-F]: "},
    {"Access violation at address [0-9a-f]{8}", "Access violation at address [0-9a-f]{8}"},
    {"out of (video )?memory", "out of (video )?memory"},
    {"^\\* Error: .{0,80}DirectSound", "^\\* Error: [\\s\\S]{0,80}DirectSound"},
    {"(DSERR|DIERR)_[A-Z]+", "(DSERR|DIERR)_[A-Z]+"},
    {"l3codecx\\.acm", "l3codecx\\.acm"},
    {"Unable to (create|open) (the )?device", "Unable to (create|open) (the )?device"},
    {"\\bE_FAIL\\b", "\\bE_FAIL\\b"},
    {"^<\\*\\*\\* Begin \\*\\*\\*>\\r\\n(\\* [a-z]+: [^\\r\\n]*\\r\\n){3}\\* Error",
     "^<\\*\\*\\* Begin \\*\\*\\*>\\r\\n(\\* [a-z]+: [^\\r\\n]*\\r\\n){3}\\* Error"},
    {"Stream (read|write) error", "Stream (read|write) error"},
    {"0x8106[0-9a-f]{4}", "0x8106[0-9a-f]{4}"},
};

// A trace log as the program writes it: runs framed by begin and end markers, CR LF lines of
// the usual kinds, and a few errors near the end that some expressions find.
std::string TraceLogOf(size_t bytes) {
  {
    uint32_t seed = 12345;
    auto rnd = [&](uint32_t n) {
      seed = seed * 134775813u + 1u;
      return static_cast<uint32_t>((static_cast<uint64_t>(seed) * n) >> 32);
    };
    const char* kinds[] = {"Info", "Note", "Checkpoint", "Entering", "Exiting", "Warning"};
    const char* words[] = {"texture", "loaded", "level", "sound", "buffer", "device", "mode",
                           "800x600", "format", "smoke", "player", "replay", "frame", "step",
                           "TGameLogic.DoFrame", "TzrD3Device8.Reset", "ok", "queue", "seed"};
    std::string s;
    while (s.size() < bytes) {
      s += "<*** Begin ***>\r\n";
      for (int line = 0; line < 400 && s.size() < bytes; ++line) {
        s += "* ";
        s += kinds[rnd(6)];
        s += ": ";
        int n = 3 + static_cast<int>(rnd(8));
        for (int w = 0; w < n; ++w) {
          if (w) s += ' ';
          s += words[rnd(19)];
          if (rnd(5) == 0) s += std::to_string(rnd(100000));
        }
        s += "\r\n";
      }
      s += "<*** End ***>\r\n";
    }
    s += "<*** Begin ***>\r\n* Info: version 1.0\r\n* Entering: TfrmGame.CreateGame\r\n";
    s += "* Msg 81000002: D3DERR_NOTAVAILABLE\r\n* Error: Unable to create the device\r\n";
    return s;
  }
}

const std::string& TraceLog() {
  static const std::string log = TraceLogOf(1000000);
  return log;
}

int RunOurs() {
  TRegularExpression r;
  r.SetModifier(1, true);
  r.SetModifier(5, true);
  r.SetModifier(2, false);
  int found = 0;
  for (const Expr& e : kList) {
    r.SetExpression(e.ours);
    found += r.Exec(TraceLog());
  }
  return found;
}

std::vector<bool> OursEach() {
  std::vector<bool> out;
  TRegularExpression r;
  r.SetModifier(1, true);
  r.SetModifier(5, true);
  r.SetModifier(2, false);
  for (const Expr& e : kList) {
    r.SetExpression(e.ours);
    out.push_back(r.Exec(TraceLog()));
  }
  return out;
}

std::vector<bool> StdEach() {
  std::vector<bool> out;
  for (const Expr& e : kList) {
    std::regex re(e.std, std::regex::ECMAScript | std::regex::icase | std::regex::multiline);
    out.push_back(std::regex_search(TraceLog(), re));
  }
  return out;
}

std::vector<bool> PcreEach(bool jit) {
  std::vector<bool> out;
  const std::string& log = TraceLog();
  for (const Expr& e : kList) {
    int err = 0;
    PCRE2_SIZE off = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(e.ours), PCRE2_ZERO_TERMINATED,
                                     PCRE2_CASELESS | PCRE2_MULTILINE | PCRE2_DOTALL, &err, &off, nullptr);
    if (!code) {
      out.push_back(false);
      continue;
    }
    if (jit) pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
    pcre2_match_data* md = pcre2_match_data_create_from_pattern(code, nullptr);
    int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(log.data()), log.size(), 0, 0, md, nullptr);
    out.push_back(rc >= 0);
    pcre2_match_data_free(md);
    pcre2_code_free(code);
  }
  return out;
}

void BM_ErrorList_Ours(benchmark::State& st) {
  for (auto _ : st) benchmark::DoNotOptimize(RunOurs());
  st.SetBytesProcessed(st.iterations() * static_cast<int64_t>(TraceLog().size() * kList.size()));
}
void BM_ErrorList_StdRegex(benchmark::State& st) {
  for (auto _ : st) benchmark::DoNotOptimize(StdEach());
  st.SetBytesProcessed(st.iterations() * static_cast<int64_t>(TraceLog().size() * kList.size()));
}
void BM_ErrorList_Pcre2(benchmark::State& st) {
  for (auto _ : st) benchmark::DoNotOptimize(PcreEach(false));
  st.SetBytesProcessed(st.iterations() * static_cast<int64_t>(TraceLog().size() * kList.size()));
}
void BM_ErrorList_Pcre2Jit(benchmark::State& st) {
  for (auto _ : st) benchmark::DoNotOptimize(PcreEach(true));
  st.SetBytesProcessed(st.iterations() * static_cast<int64_t>(TraceLog().size() * kList.size()));
}
BENCHMARK(BM_ErrorList_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ErrorList_StdRegex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ErrorList_Pcre2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ErrorList_Pcre2Jit)->Unit(benchmark::kMillisecond);

// The whole walk of the error lookup over a server's list of 1 MB whose every line has the same
// hostile expression (the page and its number aside), as the program runs it after the list's
// download. Timed once per repetition; the median is the figure.
struct HostileWalk {
  const char* name;
  const char* expression;
  size_t logBytes;
};
const HostileWalk kHostileWalks[] = {
    {"no attempt anywhere", ".{15}[\\x01-\\x05]", 4000000},
    {"a prefix of 8 sets", "[r-z][r-z][r-z][r-z][r-z][r-z][r-z][r-z]", 1000000},
    {"a literal that is missing", "D3DERR_NEVERSEEN", 4000000},
    {"backtracking", "(.*.)*#", 2000},
};

std::vector<TErrorListEntry> HostileList(const char* expression) {
  std::vector<TErrorListEntry> entries;
  size_t bytes = 0;
  for (int n = 0;; ++n) {
    const std::string line = "p" + std::to_string(n) + ".htm,N," + expression;
    bytes += line.size() + 2;
    if (bytes > kMaxErrorListBytes) break;
    TErrorListEntry e;
    if (ParseErrorListLine(line, e)) entries.push_back(std::move(e));
  }
  return entries;
}

void WalkHostileLists(int repetitions) {
  std::printf("\nwhole walk of a 1 MB hostile error list (median of %d):\n", repetitions);
  for (const HostileWalk& h : kHostileWalks) {
    const std::vector<TErrorListEntry> entries = HostileList(h.expression);
    const std::string log = TraceLogOf(h.logBytes);
    std::vector<double> times;
    TErrorListWalk walk;
    std::string end = "no match";
    for (int k = 0; k < repetitions; ++k) {
      const auto t0 = std::chrono::steady_clock::now();
      try {
        WalkErrorList(entries, log, nullptr, walk);
        end = walk.Matched >= 0 ? "match" : "no match";
      } catch (const ERegularExpression& e) {
        end = e.what();
      }
      times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(times.begin(), times.end());
    const double t = times[times.size() / 2];
    std::printf("  %-26s %-42s %zu lines over %7zu bytes: %6.2f s, %5d lines searched, %11lld units (%.0f M/s), %s\n",
                h.name, h.expression, entries.size(), log.size(), t, walk.LinesSearched,
                static_cast<long long>(walk.UnitsUsed), t > 0 ? walk.UnitsUsed / t / 1e6 : 0.0, end.c_str());
    kt_bench::PrintResult(std::string("Whole error-list walk, 1 MB of ") + h.expression + " over a " +
                              (h.logBytes >= 1000000 ? std::to_string(h.logBytes / 1000000) + " MB log" : std::to_string(h.logBytes / 1000) + " KB log"),
                          kt_bench::Fixed(t, 2) + " s", "-", "-", "<= 3 s", t <= 3.0);
  }
}
}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const std::vector<bool> ours = OursEach(), stdr = StdEach(), pcre = PcreEach(false);
  std::printf("trace log: %zu bytes, %zu expressions; matches (ours/std::regex/PCRE2):", TraceLog().size(),
              kList.size());
  for (size_t k = 0; k < kList.size(); ++k) std::printf(" %d%d%d", int(ours[k]), int(stdr[k]), int(pcre[k]));
  std::printf("\n");
  for (size_t k = 0; k < kList.size(); ++k)
    if (ours[k] != stdr[k] || ours[k] != pcre[k]) std::printf("  engines disagree on \"%s\"\n", kList[k].ours);
  kt_bench::TMedianReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  auto t = [&](const char* n) { return rep.Seconds(n); };
  const double o = t("BM_ErrorList_Ours");
  if (o > 0) {
    std::printf("\nratio (peer time / our time; above 1 = we are faster):\n");
    for (const char* n : {"BM_ErrorList_StdRegex", "BM_ErrorList_Pcre2", "BM_ErrorList_Pcre2Jit"})
      if (t(n) > 0) std::printf("  %-24s %8.2f\n", n + 13, t(n) / o);
    const double jit = t("BM_ErrorList_Pcre2Jit");
    if (jit > 0)
      kt_bench::PrintResult("Error-list scan (12 expressions, i and m, 1 MB log), ours / PCRE2 JIT",
                            kt_bench::Fixed(o * 1e3, 2) + " ms", kt_bench::Fixed(jit * 1e3, 2) + " ms",
                            kt_bench::Fixed(o / jit, 2), "<= 4", o / jit <= 4.0);
  }
  WalkHostileLists(3);
  benchmark::Shutdown();
  return 0;
}
