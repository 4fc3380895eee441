#include "views/PinStorage.h"

#include "storage/LocalDatabase.h"
#include "views/Local8Bit.h"
#include "views/StorageGuard.h"

#include <QCoreApplication>

#include <stdexcept>

PinCheck CheckStoredPin(LocalDatabase& database, QWidget* parent, const QString& pin)
{
    bool matches = false;
    if (!GuardStorage(
            parent, QCoreApplication::translate("PinStorage", "check the PIN"),
            [&database, &pin, &matches] { matches = database.CheckPin(toLocal8BitString(pin)); })) {
        return PinCheck::Failed;
    }
    return matches ? PinCheck::Matches : PinCheck::Differs;
}

bool StorePin(LocalDatabase& database, QWidget* parent, const QString& pin)
{
    // A form that unlocked with a PIN that was not stored would lock the user
    // out at the next start, so a false result counts as a failure too.
    return GuardStorage(parent, QCoreApplication::translate("PinStorage", "store the PIN"),
                        [&database, &pin] {
                            if (!database.SetPin(toLocal8BitString(pin))) {
                                throw std::runtime_error("SetPin: the PIN was not stored");
                            }
                        });
}
