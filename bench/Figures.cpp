#include "Figures.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>

namespace {

// Seconds per call of every repetition, by "benchmark:counter".
using Samples = std::map<std::string, std::vector<double>>;

class SampleReporter : public benchmark::ConsoleReporter
{
public:
    // No colours: the output goes to log files.
    explicit SampleReporter(Samples& into) : ConsoleReporter(OO_Tabular), samples(into) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                // InTurns gives the two sides' times as counters.
                for (const auto& [counter, value] : run.counters) {
                    samples[run.run_name.function_name + ":" + counter].push_back(value);
                }
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

const char* const ProjectCounter = "project";
const char* const ReferenceCounter = "reference";

double Seconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

} // namespace

void InTurns(benchmark::State& state, bool realTime, const std::function<void()>& project,
             const std::function<void()>& reference, int batch,
             const std::function<void()>& untimed)
{
    const clockid_t clock = realTime ? CLOCK_MONOTONIC : CLOCK_THREAD_CPUTIME_ID;
    double projectTime = 0;
    double referenceTime = 0;
    const auto timed = [clock, batch, &untimed](double& total, const std::function<void()>& call) {
        if (untimed) {
            untimed();
        }
        const double start = Seconds(clock);
        for (int i = 0; i < batch; ++i) {
            call();
        }
        total += Seconds(clock) - start;
    };
    bool projectFirst = true;
    for (auto _ : state) {
        if (projectFirst) {
            timed(projectTime, project);
            timed(referenceTime, reference);
        } else {
            timed(referenceTime, reference);
            timed(projectTime, project);
        }
        projectFirst = !projectFirst;
    }
    using Counter = benchmark::Counter;
    state.counters[ProjectCounter] = Counter(projectTime / batch, Counter::kAvgIterations);
    state.counters[ReferenceCounter] = Counter(referenceTime / batch, Counter::kAvgIterations);
}

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
        const auto project = samples.find(figure.benchmark + ":" + ProjectCounter);
        const auto reference = samples.find(figure.benchmark + ":" + ReferenceCounter);
        if (project == samples.end() || reference == samples.end()) {
            // Filtered out, or failed: its error is in the output above.
            std::fprintf(stderr, "not measured: %s\n", figure.title.c_str());
            ++missing;
            continue;
        }
        for (std::FILE* out : {stdout, rows}) {
            if (out != nullptr) {
                std::fprintf(out,
                             "{\"figure\": \"%s\", \"unit\": \"%s\", \"project\": %s, "
                             "\"reference\": %s, \"goal\": %g, \"paired\": true}\n",
                             figure.title.c_str(), figure.realTime ? "s" : "s cpu",
                             List(project->second).c_str(), List(reference->second).c_str(),
                             figure.goal);
            }
        }
    }
    if (rows != nullptr) {
        std::fclose(rows);
    }
    return missing == 0 ? 0 : 1;
}
