#pragma once

#include <string>

class LocalDatabase;

// The user's preferences, kept as named rows of tblSystem beside "PIN" and
// "DefaultToken". A row that is missing (a file of an older copy) reads as the
// default below; older copies ignore the rows they do not know.
struct CAppSettings
{
    // "LockWithSession": lock when the desktop session locks or its screen saver starts.
    bool LockWithSession = true;
    // "IdleLockMinutes": lock after this many minutes without input; 0 never.
    int IdleLockMinutes = 0;
    // "CloseToTray": closing the window hides it in the tray instead of quitting.
    bool CloseToTray = false;
    // "ClockCheck": ask a time server how far the clock is off.
    bool ClockCheck = false;
    // "TimeServer": the server the clock check asks.
    std::string TimeServer = "pool.ntp.org";
    // "UseClockOffset": compute time-based codes with the measured offset.
    bool UseClockOffset = false;
};

// Throws the access layer's exceptions, like every LocalDatabase operation.
CAppSettings LoadSettings(LocalDatabase& database);
void SaveSettings(LocalDatabase& database, const CAppSettings& settings);
