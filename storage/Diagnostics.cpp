#include "storage/Diagnostics.h"

#include <cstdio>

void ReportDiagnostic(const std::string& line)
{
    // One write of the whole line, so that lines of two processes never interleave.
    const std::string text = line + '\n';
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}
