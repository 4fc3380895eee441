#include "Figures.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

namespace {

// Seconds per iteration of every repetition, by benchmark name.
struct Times
{
    std::vector<double> cpu;
    std::vector<double> real;
};
using Samples = std::map<std::string, Times>;

class SampleReporter : public benchmark::ConsoleReporter
{
public:
    explicit SampleReporter(Samples& into) : samples(into) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                const double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
                Times& times = samples[run.benchmark_name()];
                times.cpu.push_back(run.GetAdjustedCPUTime() / unit);
                times.real.push_back(run.GetAdjustedRealTime() / unit);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

private:
    Samples& samples;
};

double Median(const Times& times, bool realTime)
{
    std::vector<double> values = realTime ? times.real : times.cpu;
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

int RunFigures(int argc, char** argv, const std::vector<Figure>& figures)
{
    // Defaults first, so that the caller's own flags win.
    static char repetitions[] = "--benchmark_repetitions=9";
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    static char minTime[] = "--benchmark_min_time=0.2";
    std::vector<char*> arguments = {argv[0], repetitions, interleave, minTime};
    const char* rowsPath = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--rows=", 7) == 0) {
            rowsPath = argv[i] + 7;
        } else {
            arguments.push_back(argv[i]);
        }
    }
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) {
        return 2;
    }

    Samples samples;
    SampleReporter reporter(samples);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::FILE* rows = rowsPath != nullptr ? std::fopen(rowsPath, "a") : nullptr;
    if (rowsPath != nullptr && rows == nullptr) {
        std::perror(rowsPath);
        return 1;
    }
    int missing = 0;
    for (const Figure& figure : figures) {
        const auto project = samples.find(figure.project);
        const auto reference = samples.find(figure.reference);
        if (project == samples.end() || reference == samples.end()) {
            // Filtered out, or failed: its error is in the output above.
            std::fprintf(stderr, "not measured: %s\n", figure.title.c_str());
            ++missing;
            continue;
        }
        for (std::FILE* out : {stdout, rows}) {
            if (out != nullptr) {
                std::fprintf(out,
                             "{\"figure\": \"%s\", \"unit\": \"%s\", \"project\": %.9g, "
                             "\"reference\": %.9g, \"goal\": %g}\n",
                             figure.title.c_str(), figure.realTime ? "s" : "s cpu",
                             Median(project->second, figure.realTime),
                             Median(reference->second, figure.realTime), figure.goal);
            }
        }
    }
    if (rows != nullptr) {
        std::fclose(rows);
    }
    return missing == 0 ? 0 : 1;
}
