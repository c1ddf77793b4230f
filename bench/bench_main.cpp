// Entry of talv_bench: runs every registered benchmark with Google Benchmark's console output, then
// prints one table of the works measured both as "[ours]" and against a peer, with ours / peer, and one
// of the works that carry a goal (counter goal_us) beside that goal.
// Times are the median of the repetitions when repetitions are asked for, else the single run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

struct TTiming {
  double Seconds = 0.0;
  bool FromMedian = false;
};

class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& reports) override {
    benchmark::ConsoleReporter::ReportRuns(reports);
    for (const Run& r : reports) {
      if (r.error_occurred) continue;
      const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
      if (r.run_type == Run::RT_Aggregate && !median) continue;
      const std::string name = r.run_name.str();
      TTiming& t = Timings[name];
      if (t.FromMedian && !median) continue;
      t.Seconds = r.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
      t.FromMedian = median;
      if (Order.empty() || Order.back() != name) Order.push_back(name);
      auto goal = r.counters.find("goal_us");
      if (goal != r.counters.end()) Goals[name] = goal->second.value;
    }
  }

  // Works without a peer that carry a goal (counter goal_us): ours beside the goal.
  void PrintGoals() const {
    if (Goals.empty()) return;
    std::printf("\n%-44s %12s %12s %8s\n", "work (against its goal)", "ours us", "goal us", "met");
    for (const std::string& name : Order) {
      auto goal = Goals.find(name);
      if (goal == Goals.end()) continue;
      const double ours = Timings.at(name).Seconds * 1e6;
      std::printf("%-44s %12.3f %12.3f %8s\n", name.c_str(), ours, goal->second,
                  ours < goal->second ? "yes" : "NO");
    }
  }

  // "<work> [ours]" beside "<work> [<peer>]".
  void PrintRatios() const {
    std::printf("\n%-44s %12s %12s %-8s %8s\n", "work", "ours us", "peer us", "peer", "ratio");
    bool any = false;
    for (const std::string& name : Order) {
      const size_t open = name.rfind(" [");
      if (open == std::string::npos || name.compare(open, std::string::npos, " [ours]") != 0) continue;
      const std::string work = name.substr(0, open);
      for (const auto& [peerName, peerTiming] : Timings) {
        if (peerName.compare(0, work.size() + 2, work + " [") != 0 || peerName == name) continue;
        if (peerName.find(" [", work.size() + 2) != std::string::npos) continue;
        const std::string peer = peerName.substr(work.size() + 2, peerName.size() - work.size() - 3);
        const double ours = Timings.at(name).Seconds;
        std::printf("%-44s %12.3f %12.3f %-8s %8.2f\n", work.c_str(), ours * 1e6, peerTiming.Seconds * 1e6,
                    peer.c_str(), peerTiming.Seconds > 0 ? ours / peerTiming.Seconds : 0.0);
        any = true;
      }
    }
    if (!any) std::printf("(no work was measured against a peer)\n");
  }

 private:
  std::map<std::string, TTiming> Timings;
  std::map<std::string, double> Goals;
  std::vector<std::string> Order;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  reporter.PrintGoals();
  benchmark::Shutdown();
  return 0;
}
