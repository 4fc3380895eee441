// The token entries of the Select Token menu and the handling of a choice.
#include "app/MainWindow.h"
#include "storage/LocalDatabase.h"
#include "views/Local8Bit.h"
#include "views/StorageGuard.h"
#include "views/TokenTitle.h"

#include <QAction>
#include <QKeySequence>
#include <QList>
#include <QMenu>
#include <QString>
#include <QVariant>

#include <vector>

namespace {

const char* const TokenEntryName = "actionSelToken";

// Ctrl+1 to Ctrl+9 are the only digit shortcuts there are: "Ctrl+10" is no key
// sequence, and later entries would all register the same unknown key.
constexpr int ShortcutDigits = 9;

// The entry text for a token title: read back as it was typed, with "&"
// doubled so that it shows instead of marking a mnemonic, and control
// characters in caret notation (a tab would start the shortcut column). A
// long one is cut short only where it is drawn (CTokenMenuStyle).
QString EntryText(const std::string& title)
{
    QString text = fromLocal8BitVisible(title);
    if (text.contains(QLatin1Char('&'))) {
        text.replace(QLatin1Char('&'), QLatin1String("&&"));
    }
    return text;
}

} // namespace

void CMainWindow::refreshTokenMenu()
{
    dropTokenEntries();
    // After login the title must name the selected token at once, which the
    // entries' listing gives; the start (locked) only needs to know whether
    // there are tokens at all.
    if (loggedIn) {
        buildTokenEntries();
        return;
    }
    int selected = 0;
    if (GuardStorage(this, tr("read the installed tokens"),
                     [this, &selected] { selected = database.GetDefaultToken(); }) &&
        selected == 0) {
        setWindowTitle(QStringLiteral("Velmora [No tokens installed]"));
    }
}

void CMainWindow::dropTokenEntries()
{
    for (QAction* entry : tokenEntries) {
        menuSelect_Token->removeAction(entry);
        // Deferred: the entry may be the one whose trigger is still being handled.
        entry->deleteLater();
    }
    tokenEntries.clear();
    tokenEntriesBuilt = false;
    // The window's stand-ins answer the digit shortcuts until entries carry them again.
    for (int place = 1; place <= digitShortcuts.size(); ++place) {
        digitShortcuts[place - 1]->setShortcut(QKeySequence(QStringLiteral("Ctrl+%1").arg(place)));
    }
}

void CMainWindow::ensureTokenEntries()
{
    if (!tokenEntriesBuilt) {
        buildTokenEntries();
    }
}

void CMainWindow::buildTokenEntries()
{
    dropTokenEntries();
    int selected = 0;
    std::vector<TokenListing> tokens;
    const bool read = GuardStorage(this, tr("read the installed tokens"), [&] {
        selected = database.GetDefaultToken();
        if (selected != 0) {
            tokens = database.ListTokens();
        }
    });
    if (!read) {
        return;
    }
    tokenEntriesBuilt = true;
    if (selected == 0 || tokens.empty()) {
        setWindowTitle(QStringLiteral("Velmora [No tokens installed]"));
        return;
    }
    // Two actions of a window with one shortcut would cancel each other out.
    for (QAction* digit : digitShortcuts) {
        digit->setShortcut(QKeySequence());
    }

    tokenEntries.reserve(static_cast<int>(tokens.size()));
    int place = 1;
    for (const TokenListing& token : tokens) {
        auto* entry = new QAction(this);
        entry->setObjectName(QString::fromLatin1(TokenEntryName));
        entry->setText(EntryText(token.Title));
        entry->setData(QVariant(static_cast<int>(token.ID)));
        entry->setCheckable(true);
        // Built while locked, an entry stays disabled so that neither the menu
        // nor its shortcut selects a token before login.
        entry->setEnabled(loggedIn);
        entry->setChecked(token.ID == selected);
        if (place <= ShortcutDigits) {
            entry->setShortcut(QKeySequence(QStringLiteral("Ctrl+%1").arg(place)));
        }
        // After login the title names the token the OTP view shows, also when
        // the one it named was just removed.
        if (loggedIn && token.ID == selected) {
            setWindowTitle(TokenWindowTitle(token.Title));
        }
        tokenEntries.append(entry);
        ++place;
    }
    menuSelect_Token->addActions(tokenEntries);
}

void CMainWindow::selectTokenAt(int place)
{
    ensureTokenEntries();
    if (place <= tokenEntries.size()) {
        // As the entry's own shortcut would: through the menu's triggered().
        tokenEntries[place - 1]->trigger();
    }
}

void CMainWindow::selectToken(int tokenId)
{
    for (QAction* entry : tokenEntries) {
        if (entry->data().toInt() == tokenId) {
            SelToken(entry); // keeps the entries' checks in step
            return;
        }
    }
    // Not in the menu, which may not have been readable: select it all the same.
    if (GuardStorage(this, tr("select the token"),
                     [this, tokenId] { database.SetDefaultToken(tokenId); })) {
        refreshTokenMenu();
        otp();
    }
}

void CMainWindow::SelToken(QAction* action)
{
    if (action == nullptr || action->objectName() != QLatin1String(TokenEntryName)) {
        return;
    }

    // Triggering has already toggled the action itself; remember the others.
    QList<QAction*> previouslyChecked;
    for (QAction* entry : tokenEntries) {
        if (entry != action && entry->isChecked()) {
            previouslyChecked.append(entry);
        }
        entry->setChecked(false);
    }
    action->setChecked(true);

    const int id = action->data().toInt();
    if (!GuardStorage(this, tr("select the token"), [this, id] { database.SetDefaultToken(id); })) {
        // The selection was not stored: keep showing the one that is.
        if (!previouslyChecked.isEmpty()) {
            action->setChecked(false);
            for (QAction* entry : previouslyChecked) {
                entry->setChecked(true);
            }
        }
        return;
    }
    otp();
}
