// The Select Token menu of the main window: its entries, their shortcuts, a
// choice, and the title, on a temporary database.
#include "app/MainWindow.h"
#include "storage/LocalDatabase.h"
#include "support/TokenFixtures.h"

#include <QAction>
#include <QMenu>
#include <QtTest>

#include <memory>

namespace {

QList<QAction*> Entries(const CMainWindow& window)
{
    return window.findChild<QMenu*>(QStringLiteral("menuSelect_Token"))->actions().mid(2);
}

void LogIn(CMainWindow& window)
{
    window.setLoggedIn();
    window.enableActions(true);
    window.otp();
}

} // namespace

class TokenMenuTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        for (const COtpTokenPtr& token : g_localDatabase.GetAllTokens()) {
            g_localDatabase.DeleteToken(token->ID);
        }
    }

    void selectsAfterLoginAndFallsBack()
    {
        const int first = Install("A", DemoSeed);
        const int second = Install("B", DemoSeed);
        const int third = Install("C", DemoSeed);
        CMainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QList<QAction*> entries = Entries(window);
        QCOMPARE(entries.size(), 3);
        QVERIFY(entries[2]->isChecked() && !entries[1]->isEnabled());
        QTest::keyClick(&window, Qt::Key_2, Qt::ControlModifier);
        QCOMPARE(g_localDatabase.GetDefaultToken(), third);
        QCOMPARE(window.windowTitle(), QStringLiteral("Velmora"));

        LogIn(window);
        QTest::keyClick(&window, Qt::Key_2, Qt::ControlModifier);
        QCOMPARE(g_localDatabase.GetDefaultToken(), second);
        QCOMPARE(window.windowTitle(), QStringLiteral("Velmora [B:12345678]"));
        QVERIFY(!entries[0]->isChecked() && entries[1]->isChecked() && !entries[2]->isChecked());

        g_localDatabase.SetDefaultToken(9999);
        window.refreshTokenMenu();
        entries = Entries(window);
        QVERIFY(entries[0]->isChecked() && !entries[1]->isChecked());
        QCOMPARE(g_localDatabase.GetDefaultToken(), first);
    }

    void entriesFollowInstallAndRemoval()
    {
        CMainWindow window;
        LogIn(window);
        QVERIFY(Entries(window).isEmpty());
        QCOMPARE(window.windowTitle(), QStringLiteral("Velmora [No tokens installed]"));

        // Ctrl+1 to Ctrl+9 are the only digit shortcuts; later entries get none.
        for (int n = 1; n <= 10; ++n) {
            Install(qPrintable(QString::number(n)), DemoSeed);
        }
        window.refreshTokenMenu();
        QList<QAction*> entries = Entries(window);
        QCOMPARE(entries.size(), 10);
        QCOMPARE(entries[8]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_9));
        QVERIFY(entries[9]->shortcut().isEmpty());
        QVERIFY(entries[9]->isChecked() && entries[9]->isEnabled()); // the newest is selected

        for (QAction* entry : entries) {
            g_localDatabase.DeleteToken(entry->data().toInt());
        }
        window.refreshTokenMenu();
        QVERIFY(Entries(window).isEmpty());
        QCOMPARE(window.windowTitle(), QStringLiteral("Velmora [No tokens installed]"));
    }
};

QTEST_MAIN(TokenMenuTest)
#include "tst_tokenmenu.moc"
