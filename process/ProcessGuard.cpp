#include "process/ProcessGuard.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <sys/prctl.h>
#include <sys/resource.h>

void PrepareProcess() noexcept
{
    // A file-size limit must not kill a program in the middle of a write: with
    // SIGXFSZ ignored the write fails with EFBIG and takes the normal error path.
    std::signal(SIGXFSZ, SIG_IGN);
    // Likewise a reader that went away: the write fails with EPIPE, and the
    // program says that its output was lost instead of vanishing.
    std::signal(SIGPIPE, SIG_IGN);

    // Keys live in this process's memory. Not dumpable: no other process of
    // the user may read /proc/PID/mem or attach a debugger (only root can),
    // and a crash writes no core file that holds them. Neither call can fail
    // with these arguments; a refusal would leave nothing better to do anyway.
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
}

bool FinishOutput(const char* program) noexcept
{
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    if (flushed && std::ferror(stdout) == 0) {
        return true;
    }
    const int error = errno != 0 ? errno : EIO;
    std::fprintf(stderr, "%s: cannot write the output: %s\n", program, std::strerror(error));
    std::fflush(stderr);
    return false;
}
