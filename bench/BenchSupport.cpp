#include "BenchSupport.h"

#include <cstdio>
#include <map>
#include <string>

namespace {

class MedianCollector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.aggregate_name != "median")
                continue;
            std::string name = run.run_name.function_name;
            if (!run.run_name.args.empty())
                name += "/" + run.run_name.args;
            // Manually timed runs report their own (real) time; the rest CPU time.
            medians[name] = run.run_name.time_type == "manual_time" ? run.GetAdjustedRealTime()
                                                                    : run.GetAdjustedCPUTime();
            units[name] = benchmark::GetTimeUnitString(run.time_unit);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> medians;
    std::map<std::string, std::string> units;
};

} // namespace

int runAndReportRatios(int argc, char** argv, const std::vector<RatioPair>& pairs) {
    // Repetitions of measured and baseline runs alternate, so that a change
    // of clock speed during the run hits both alike.
    std::vector<char*> arguments(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave);
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    MedianCollector reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    int status = 0;
    for (const RatioPair& pair : pairs) {
        const auto measured = reporter.medians.find(pair.measured);
        const auto baseline = reporter.medians.find(pair.baseline);
        if (measured == reporter.medians.end() || baseline == reporter.medians.end())
            continue;
        const double ratio = measured->second / baseline->second;
        const bool within = ratio <= pair.limit;
        const std::string& unit = reporter.units[pair.measured];
        std::printf("ratio %s / %s = %.3f (%.1f %s / %.1f %s, limit %.2f) %s\n",
                    pair.measured.c_str(), pair.baseline.c_str(), ratio, measured->second,
                    unit.c_str(), baseline->second, unit.c_str(), pair.limit,
                    within ? "ok" : "OVER");
        if (!within)
            status = 1;
    }
    benchmark::Shutdown();
    return status;
}
