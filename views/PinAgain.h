#pragma once

#include <QString>

class LocalDatabase;
class QWidget;

// Asks for the PIN once more before a secret leaves Velmora (an export, a QR
// code). True once the stored PIN is typed; false on Cancel, when the
// window locks meanwhile, or when the PIN cannot be checked (reported then).
// A wrong PIN asks again, saying so.
bool ConfirmPin(LocalDatabase& database, QWidget* parent, const QString& purpose);
