#include "IdleProbe.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

constexpr int WarmUpMilliseconds = 3000;

double Seconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

int IdleMilliseconds()
{
    const char* text = std::getenv("VELMORA_BENCH_IDLE_SECONDS");
    const int seconds = text != nullptr ? std::atoi(text) : 0;
    return (seconds > 0 ? seconds : 20) * 1000;
}

} // namespace

void StartIdleProbe()
{
    QTimer::singleShot(WarmUpMilliseconds, [] {
        const double cpu = Seconds(CLOCK_PROCESS_CPUTIME_ID);
        const double wall = Seconds(CLOCK_MONOTONIC);
        QTimer::singleShot(IdleMilliseconds(), [cpu, wall] {
            std::printf("idle %.6f %.6f\n", Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu,
                        Seconds(CLOCK_MONOTONIC) - wall);
            std::fflush(stdout);
            QCoreApplication::quit();
        });
    });
}
