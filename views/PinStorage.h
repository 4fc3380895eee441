#pragma once

#include <QString>

class LocalDatabase;
class QWidget;

// The PIN forms' calls into storage, guarded: a storage failure has already
// been reported (standard error and an error box over `parent`) when these return.

enum class PinCheck { Matches, Differs, Failed };

// Whether `pin` is the stored PIN.
PinCheck CheckStoredPin(LocalDatabase& database, QWidget* parent, const QString& pin);

// Stores `pin` as the new PIN; false when it could not be stored.
bool StorePin(LocalDatabase& database, QWidget* parent, const QString& pin);
