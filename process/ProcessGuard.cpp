#include "process/ProcessGuard.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

void PrepareProcess() noexcept
{
    // A file-size limit must not kill a program in the middle of a write: with
    // SIGXFSZ ignored the write fails with EFBIG and takes the normal error path.
    std::signal(SIGXFSZ, SIG_IGN);
    // Likewise a reader that went away: the write fails with EPIPE, and the
    // program says that its output was lost instead of vanishing.
    std::signal(SIGPIPE, SIG_IGN);
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
