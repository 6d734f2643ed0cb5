// Turns the benchmark runs into the tables we read: nanoseconds per sample,
// voices per core at 44.1 kHz, the ratio of every plug-in scenario to every
// baseline at the same call size, and the speed targets with whether they
// hold in this run; then the voices through the engine, with the engine's
// own share of the time and what a sleeping voice costs.
#ifndef VX_BENCH_REPORT_H
#define VX_BENCH_REPORT_H

#include <benchmark/benchmark.h>

#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace vxbench {

struct Measurement {
    double ns_per_sample = 0.0;
    double host_calls_per_call = -1.0;  // below 0: not counted (baselines)
    double allocations_per_call = -1.0;
    // The engine's voices (below 0: not an engine run); times per block.
    double voices = -1.0;
    double plugin_share = -1.0;  // of a block, inside the plug-ins' processing calls
    double plugin_ns = -1.0;     // inside the plug-ins' processing calls
    double timer_ns = 0.0;       // what the clock reads added to the block
    double awake = 0.0;          // voices whose oscillator was processed
    int runs = 0;                // repetitions seen
    bool from_median = false;    // the median of them, not a single run
};

// Keeps the median of each benchmark's repetitions (or its only run) while
// the console reporter prints the runs as usual.
class TableReporter : public benchmark::ConsoleReporter {
public:
    // `order`: benchmark names in the order the tables list them.
    explicit TableReporter(std::vector<std::string> order) : m_order(std::move(order)) {}
    void ReportRuns(const std::vector<Run>& runs) override;

    // The tables in Markdown, for bench/README.md.
    void PrintTables(std::ostream& out) const;

private:
    const Measurement* Find(const std::string& name, int frames) const;
    double Ratio(const std::string& subject, const std::string& baseline, int frames) const;
    void PrintTimes(std::ostream& out) const;
    void PrintRatios(std::ostream& out) const;
    void PrintTargets(std::ostream& out) const;
    void PrintEngine(std::ostream& out) const;

    std::vector<std::string> m_order;
    std::map<std::string, std::map<int, Measurement>> m_results;
};

}  // namespace vxbench

#endif  // VX_BENCH_REPORT_H
