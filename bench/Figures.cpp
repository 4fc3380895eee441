#include "Figures.h"

#include <benchmark/benchmark.h>

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
                Times& times = samples[run.run_name.function_name];
                times.cpu.push_back(run.GetAdjustedCPUTime() / unit);
                times.real.push_back(run.GetAdjustedRealTime() / unit);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

private:
    Samples& samples;
};

// "[a, b, ...]": the table's statistics are taken in one place, by the runner.
std::string List(const std::vector<double>& values)
{
    std::string text = "[";
    for (const double value : values) {
        char number[32];
        std::snprintf(number, sizeof number, "%s%.9g", text.size() > 1 ? ", " : "", value);
        text += number;
    }
    return text + "]";
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
                const auto times = [&](const Times& t) { return figure.realTime ? t.real : t.cpu; };
                std::fprintf(out,
                             "{\"figure\": \"%s\", \"unit\": \"%s\", \"project\": %s, "
                             "\"reference\": %s, \"goal\": %g}\n",
                             figure.title.c_str(), figure.realTime ? "s" : "s cpu",
                             List(times(project->second)).c_str(),
                             List(times(reference->second)).c_str(), figure.goal);
            }
        }
    }
    if (rows != nullptr) {
        std::fclose(rows);
    }
    return missing == 0 ? 0 : 1;
}
