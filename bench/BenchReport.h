#pragma once
// Shared by the benchmark programs. TMedianReporter keeps one figure per benchmark for the ratios
// printed after the table: the median aggregate when --benchmark_repetitions ran (the plain runs
// are only its inputs), else the plain run. PrintResult writes the one-line results that
// tools/bench.sh gathers into its table.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace kt_bench {

class TMedianReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      std::map<std::string, TFigure>* to = nullptr;
      if (r.run_type == Run::RT_Iteration)
        to = &Plain;
      else if (r.aggregate_name == "median")
        to = &Median;
      if (!to) continue;
      TFigure& f = (*to)[Key(r)];
      const double unit = benchmark::GetTimeUnitMultiplier(r.time_unit);
      f.Real = r.GetAdjustedRealTime() / unit;
      f.Cpu = r.GetAdjustedCPUTime() / unit;
      f.Counters.clear();
      for (const auto& c : r.counters) f.Counters[c.first] = c.second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  bool Has(const std::string& name) const { return Find(name) != nullptr; }
  // Seconds per iteration, wall clock and CPU; 0 when the benchmark did not run.
  double Seconds(const std::string& name) const {
    const TFigure* f = Find(name);
    return f ? f->Real : 0.0;
  }
  double CpuSeconds(const std::string& name) const {
    const TFigure* f = Find(name);
    return f ? f->Cpu : 0.0;
  }
  // A user counter (rates already per second); 0 when absent.
  double Counter(const std::string& name, const std::string& counter) const {
    const TFigure* f = Find(name);
    if (!f) return 0.0;
    auto it = f->Counters.find(counter);
    return it == f->Counters.end() ? 0.0 : it->second;
  }

private:
  struct TFigure {
    double Real = 0, Cpu = 0;
    std::map<std::string, double> Counters;
  };
  // "BM_Name/args": without the suffixes that options add (iterations:, real_time, repeats:).
  static std::string Key(const Run& r) {
    return r.run_name.args.empty() ? r.run_name.function_name : r.run_name.function_name + "/" + r.run_name.args;
  }
  const TFigure* Find(const std::string& name) const {
    auto m = Median.find(name);
    if (m != Median.end()) return &m->second;
    auto p = Plain.find(name);
    return p == Plain.end() ? nullptr : &p->second;
  }
  std::map<std::string, TFigure> Plain, Median;
};

// "RESULT|measure|ours|peer|ratio|goal|met or missed": one row of the goal table.
inline void PrintResult(const std::string& measure, const std::string& ours, const std::string& peer,
                        const std::string& ratio, const std::string& goal, bool met) {
  std::printf("RESULT|%s|%s|%s|%s|%s|%s\n", measure.c_str(), ours.c_str(), peer.c_str(), ratio.c_str(),
              goal.c_str(), met ? "met" : "missed");
  std::fflush(stdout);
}

inline std::string Fixed(double v, int decimals) {
  char b[64];
  std::snprintf(b, sizeof b, "%.*f", decimals, v);
  return b;
}

}  // namespace kt_bench
