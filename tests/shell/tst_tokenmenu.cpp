// The Select Token menu of the main window: its entries, their shortcuts, a
// choice, and the title, on a temporary database.
#include "app/MainWindow.h"
#include "app/TokenMenuStyle.h"
#include "storage/DbConnection.h"
#include "storage/LocalDatabase.h"
#include "support/TokenFixtures.h"

#include <QAction>
#include <QMenu>
#include <QScreen>
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

// Stores `copies` more rows like the token with that ID, in one statement.
void CopyToken(int id, int copies)
{
    CDbConnection other;
    other.open(g_localDatabase.GetDatabasePath().c_str());
    other.executenonquery(
        "with recursive n(i) as (select 1 union all select i + 1 from n where i < %d) "
        "insert into tblToken (TokenType, Name, UserName, DomainName, TokenID, Serial, "
        "Description, ServiceUrl, AppUrl, OcraSuite, Credential, Status, Digits, CheckSum, "
        "SyncSize, TwoWay, Timer, Sleep) select TokenType, Name, UserName, DomainName, TokenID, "
        "Serial, Description, ServiceUrl, AppUrl, OcraSuite, Credential, Status, Digits, "
        "CheckSum, SyncSize, TwoWay, Timer, Sleep from tblToken, n where ID = %d",
        copies, id);
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
        // Shown as typed: the bytes stored are those of the local 8-bit encoding.
        const int second = Install(u8"Zo\u00eb Bank \u20ac", DemoSeed);
        const int third = Install("C&D", DemoSeed);
        CMainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QList<QAction*> entries = Entries(window);
        QCOMPARE(entries.size(), 3);
        QVERIFY(entries[2]->isChecked() && !entries[1]->isEnabled());
        QCOMPARE(entries[1]->text(), QStringLiteral("Zo\u00eb Bank \u20ac:12345678"));
        QCOMPARE(entries[2]->text(), QStringLiteral("C&&D:12345678")); // "&" shows, no mnemonic
        QTest::keyClick(&window, Qt::Key_2, Qt::ControlModifier);
        QCOMPARE(g_localDatabase.GetDefaultToken(), third);
        QCOMPARE(window.windowTitle(), QStringLiteral("Velmora"));

        LogIn(window);
        QTest::keyClick(&window, Qt::Key_2, Qt::ControlModifier);
        QCOMPARE(g_localDatabase.GetDefaultToken(), second);
        QCOMPARE(window.windowTitle(), QStringLiteral("Velmora [Zo\u00eb Bank \u20ac:12345678]"));
        QVERIFY(!entries[0]->isChecked() && entries[1]->isChecked() && !entries[2]->isChecked());

        g_localDatabase.SetDefaultToken(9999);
        window.refreshTokenMenu();
        entries = Entries(window);
        QVERIFY(entries[0]->isChecked() && !entries[1]->isChecked());
        QCOMPARE(g_localDatabase.GetDefaultToken(), first);

        // Chosen from the token list before the menu lists it: selected all the same.
        const int fourth = Install("D", DemoSeed);
        g_localDatabase.SetDefaultToken(first);
        window.selectToken(fourth);
        QCOMPARE(g_localDatabase.GetDefaultToken(), fourth);
        QVERIFY(Entries(window).last()->isChecked());
        QCOMPARE(window.windowTitle(), QStringLiteral("Velmora [D:12345678]"));
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
        QCOMPARE(window.windowTitle(), QStringLiteral("Velmora [10:12345678]"));

        // Removing the selected token: the title names the one shown from now on, at once.
        g_localDatabase.DeleteToken(entries[9]->data().toInt());
        window.refreshTokenMenu();
        QCOMPARE(window.windowTitle(), QStringLiteral("Velmora [1:12345678]"));

        for (QAction* entry : entries) {
            g_localDatabase.DeleteToken(entry->data().toInt());
        }
        window.refreshTokenMenu();
        QVERIFY(Entries(window).isEmpty());
        QCOMPARE(window.windowTitle(), QStringLiteral("Velmora [No tokens installed]"));
    }

    void manyAndLongNamesStayOnScreen()
    {
        CopyToken(Install("Many", DemoSeed), 998);
        const QString longName = QStringLiteral("L") + QString(299, QLatin1Char('o'));
        const int last = Install(qPrintable(longName), DemoSeed);
        CMainWindow window;
        window.show();
        LogIn(window);
        const QList<QAction*> entries = Entries(window);
        QCOMPARE(entries.size(), 1000);
        // Cut short only where drawn: the entry and the title keep the whole name.
        QCOMPARE(entries.last()->text(), longName + QStringLiteral(":12345678"));
        QCOMPARE(window.windowTitle(), QStringLiteral("Velmora [%1:12345678]").arg(longName));

        // One scrolling column inside the screen, not columns running off it.
        window.selectToken(entries[500]->data().toInt());
        QVERIFY(entries[500]->isChecked() && !entries.last()->isChecked());
        auto* menu = window.findChild<QMenu*>(QStringLiteral("menuSelect_Token"));
        menu->popup(QPoint(0, 0));
        QVERIFY(QTest::qWaitForWindowExposed(menu));
        const QRect screen = menu->screen()->availableGeometry();
        QVERIFY(menu->height() <= screen.height());
        QVERIFY(menu->width() < CTokenMenuStyle::MaxNameWidth + 200);
        QTest::keyClick(menu, Qt::Key_End);
        QTest::keyClick(menu, Qt::Key_Return);
        QCOMPARE(g_localDatabase.GetDefaultToken(), last);
        QVERIFY(entries.last()->isChecked() && !entries[500]->isChecked());
    }
};

QTEST_MAIN(TokenMenuTest)
#include "tst_tokenmenu.moc"
