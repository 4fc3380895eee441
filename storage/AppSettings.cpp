#include "storage/AppSettings.h"

#include "storage/LocalDatabase.h"

namespace {

bool ReadFlag(LocalDatabase& database, const char* name, bool fallback)
{
    return database.HasValue(name) ? database.GetIntValue(name) != 0 : fallback;
}

} // namespace

CAppSettings LoadSettings(LocalDatabase& database)
{
    CAppSettings settings;
    settings.LockWithSession = ReadFlag(database, "LockWithSession", settings.LockWithSession);
    if (database.HasValue("IdleLockMinutes")) {
        settings.IdleLockMinutes = database.GetIntValue("IdleLockMinutes");
    }
    settings.CloseToTray = ReadFlag(database, "CloseToTray", settings.CloseToTray);
    settings.ClockCheck = ReadFlag(database, "ClockCheck", settings.ClockCheck);
    if (database.HasValue("TimeServer")) {
        settings.TimeServer = database.GetStringValue("TimeServer");
    }
    settings.UseClockOffset = ReadFlag(database, "UseClockOffset", settings.UseClockOffset);
    return settings;
}

void SaveSettings(LocalDatabase& database, const CAppSettings& settings)
{
    database.SetIntValue("LockWithSession", settings.LockWithSession ? 1 : 0);
    database.SetIntValue("IdleLockMinutes", settings.IdleLockMinutes);
    database.SetIntValue("CloseToTray", settings.CloseToTray ? 1 : 0);
    database.SetIntValue("ClockCheck", settings.ClockCheck ? 1 : 0);
    database.SetStringValue("TimeServer", settings.TimeServer);
    database.SetIntValue("UseClockOffset", settings.UseClockOffset ? 1 : 0);
}
