#pragma once

#include <QString>

#include <functional>

class QWidget;

// Runs one storage call for the interface. A failure never leaves the calling
// slot: it is written to standard error as one line, shown in an error box
// over `parent` saying what could not be done, and reported by the result
// (false). `action` completes "Could not ...", e.g. "check the PIN".
bool GuardStorage(QWidget* parent, const QString& action, const std::function<void()>& call);
