#pragma once

#include <QString>

// The clipboard as the OTP view uses it. A copied code is marked as a secret,
// so that clipboard managers keep no copy, and is taken off the clipboard again
// once it is no longer shown, when its time is up, and when the run ends; but
// only while the clipboard still holds it, never what was copied since.
namespace CodeClipboard {

// The MIME type, with the value "secret", that tells clipboard managers to skip a copy.
inline constexpr char SecretHintFormat[] = "x-kde-passwordManagerHint";

// Puts `code` on the clipboard, for at most `validForSeconds` (0: until withdrawn).
void Copy(const QString& code, int validForSeconds);

// Takes `code` off the clipboard when it is the code copied last.
void Withdraw(const QString& code);

// Takes the code copied last off the clipboard, whichever it is.
void WithdrawAll();

} // namespace CodeClipboard
