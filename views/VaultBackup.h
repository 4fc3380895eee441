#pragma once

class LocalDatabase;
class QWidget;

// Before the secrets move into the desktop keyring: says why a backup matters
// (a lost keyring is a lost store) and offers to write a password-encrypted
// vault of the tokens. False when the user cancels, or the backup asked for
// was not written; then nothing should change.
bool OfferVaultBackup(LocalDatabase& database, QWidget* parent);
