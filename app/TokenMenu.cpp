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
    for (QAction* entry : tokenEntries) {
        menuSelect_Token->removeAction(entry);
        // Deferred: the entry may be the one whose trigger is still being handled.
        entry->deleteLater();
    }
    tokenEntries.clear();

    int selected = 0;
    std::vector<TokenListing> tokens;
    const bool read = GuardStorage(this, tr("read the installed tokens"), [&] {
        selected = g_localDatabase.GetDefaultToken();
        if (selected != 0) {
            tokens = g_localDatabase.ListTokens();
        }
    });
    if (!read) {
        return;
    }
    if (selected == 0 || tokens.empty()) {
        setWindowTitle(QStringLiteral("Velmora [No tokens installed]"));
        return;
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
                     [tokenId] { g_localDatabase.SetDefaultToken(tokenId); })) {
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
    if (!GuardStorage(this, tr("select the token"),
                      [id] { g_localDatabase.SetDefaultToken(id); })) {
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
