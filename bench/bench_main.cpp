// Entry of talv_bench: runs every registered benchmark with Google Benchmark's console output, then
// prints two tables: the figures that have a goal, each beside its goal and its peer, and every work
// measured both as "[ours]" and against a peer, with ours / peer. Times (CPU time, or real time where a
// bench asks for it) and counters are the median of the repetitions when asked for, else the single run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "BenchSupport.h"

namespace {

struct TTiming {
  double Seconds = 0.0;
  bool FromMedian = false;
  std::map<std::string, double> Counters;
};

class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& reports) override {
    benchmark::ConsoleReporter::ReportRuns(reports);
    for (const Run& r : reports) {
      if (r.error_occurred) continue;
      const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
      if (r.run_type == Run::RT_Aggregate && !median) continue;
      // The registered name, without the suffixes of fixed iterations, real time and the like.
      std::string name = r.run_name.function_name;
      if (!r.run_name.args.empty()) name += "/" + r.run_name.args;
      TTiming& t = Timings[name];
      if (t.FromMedian && !median) continue;
      // CPU time (the benches run on one thread), so that other load on the machine counts less; real
      // time where a bench asks for it (round trips through the pipe).
      const bool realTime = !r.run_name.time_type.empty();
      t.Seconds = (realTime ? r.GetAdjustedRealTime() : r.GetAdjustedCPUTime()) /
                  benchmark::GetTimeUnitMultiplier(r.time_unit);
      t.FromMedian = median;
      t.Counters.clear();
      for (const auto& [counterName, counter] : r.counters) t.Counters[counterName] = counter.value;
      if (Order.empty() || Order.back() != name) Order.push_back(name);
    }
  }

  // Each figure beside its goal and its peer; "-" where the run or the peer was not measured.
  void PrintFigures() const {
    const auto& figures = talvbench::Figures();
    if (figures.empty()) return;
    std::printf("\n%-34s %12s %-13s %-16s %12s %-8s %7s %-4s\n", "figure", "ours", "unit", "goal", "peer",
                "peer", "ratio", "met");
    for (const talvbench::TFigure& f : figures) {
      double ours = 0, peer = 0;
      const bool haveOurs = Read(talvbench::OursName(f.Work), f.Counter, ours);
      const bool havePeer = !f.Peer.empty() && Read(talvbench::PeerName(f.Work, f.Peer), f.Counter, peer);
      const bool haveRatio = haveOurs && havePeer && peer > 0;
      const double ratio = haveRatio ? ours / peer : 0;
      char goal[32];
      if (f.OnRatio)
        std::snprintf(goal, sizeof goal, "<= %.2gx %s", f.Limit, f.Peer.c_str());
      else
        std::snprintf(goal, sizeof goal, "<= %g", f.Limit);
      const char* met = "-";
      if (f.OnRatio ? haveRatio : haveOurs) met = (f.OnRatio ? ratio : ours) <= f.Limit ? "yes" : "NO";
      char oursText[24] = "-", peerText[24] = "-", ratioText[16] = "-";
      if (haveOurs) std::snprintf(oursText, sizeof oursText, "%.3f", ours);
      if (havePeer) std::snprintf(peerText, sizeof peerText, "%.3f", peer);
      if (haveRatio) std::snprintf(ratioText, sizeof ratioText, "%.2f", ratio);
      std::printf("%-34s %12s %-13s %-16s %12s %-8s %7s %-4s\n", f.Work.c_str(), oursText, f.Unit.c_str(),
                  goal, peerText, f.Peer.empty() ? "-" : f.Peer.c_str(), ratioText, met);
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
  // The run's counter, or its time in microseconds when counter is empty.
  bool Read(const std::string& run, const std::string& counter, double& value) const {
    const auto it = Timings.find(run);
    if (it == Timings.end()) return false;
    if (counter.empty()) {
      value = it->second.Seconds * 1e6;
      return true;
    }
    const auto c = it->second.Counters.find(counter);
    if (c == it->second.Counters.end()) return false;
    value = c->second;
    return true;
  }

  std::map<std::string, TTiming> Timings;
  std::vector<std::string> Order;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintFigures();
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
