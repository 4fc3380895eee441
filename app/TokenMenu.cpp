// The token entries of the Select Token menu and the handling of a choice.
#include "app/MainWindow.h"
#include "storage/LocalDatabase.h"
#include "views/StorageGuard.h"

#include <QAction>
#include <QKeySequence>
#include <QList>
#include <QMenu>
#include <QString>
#include <QVariant>

#include <vector>

namespace {

// The menu begins with Manage Tokens and a separator; the token entries follow.
constexpr int FirstTokenEntry = 2;

const char* const TokenEntryName = "actionSelToken";

QList<QAction*> TokenEntries(const QMenu* menu)
{
    return menu->actions().mid(FirstTokenEntry);
}

} // namespace

void CMainWindow::refreshTokenMenu()
{
    for (QAction* entry : TokenEntries(menuSelect_Token)) {
        menuSelect_Token->removeAction(entry);
        // Deferred: the entry may be the one whose trigger is still being handled.
        entry->deleteLater();
    }

    int selected = 0;
    std::vector<COtpTokenPtr> tokens;
    const bool read = GuardStorage(this, tr("read the installed tokens"), [&] {
        selected = g_localDatabase.GetDefaultToken();
        if (selected != 0) {
            tokens = g_localDatabase.GetAllTokens();
        }
    });
    if (!read) {
        return;
    }
    if (selected == 0 || tokens.empty()) {
        setWindowTitle(QStringLiteral("Velmora [No tokens installed]"));
        return;
    }

    int place = 1;
    for (const COtpTokenPtr& token : tokens) {
        auto* entry = new QAction(this);
        entry->setObjectName(QString::fromLatin1(TokenEntryName));
        entry->setText(QString::fromLatin1(token->GetDisplayName().c_str()));
        entry->setData(QVariant(static_cast<int>(token->ID)));
        entry->setCheckable(true);
        // Built while locked, an entry stays disabled so that neither the menu
        // nor its shortcut selects a token before login.
        entry->setEnabled(loggedIn);
        entry->setChecked(token->ID == selected);
        entry->setShortcut(QKeySequence(QStringLiteral("Ctrl+%1").arg(place)));
        menuSelect_Token->addAction(entry);
        ++place;
    }
}

void CMainWindow::SelToken(QAction* action)
{
    if (action == nullptr || action->objectName() != QLatin1String(TokenEntryName)) {
        return;
    }

    // Triggering has already toggled the action itself; remember the others.
    QList<QAction*> previouslyChecked;
    for (QAction* entry : TokenEntries(menuSelect_Token)) {
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
