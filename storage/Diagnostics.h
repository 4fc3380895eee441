#pragma once

#include <string>

// Writes one diagnostic line to standard error. Safe at any time, also while
// static objects are still being constructed (the database is opened before
// main runs, when the iostreams may not exist yet): it uses C stdio only.
void ReportDiagnostic(const std::string& line);
