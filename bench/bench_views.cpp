// The token menu and the token list with many tokens, each beside the same
// number of plain Qt objects. Qt's offscreen platform, a database of its own.
#include "Figures.h"
#include "Fixtures.h"
#include "app/MainWindow.h"
#include "storage/LocalDatabase.h"
#include "support/TempDirectory.h"
#include "views/ManageTokensView.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTableWidget>
#include <QVariant>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <exception>

LocalDatabase g_localDatabase(testsupport::MakeTempDirectory());

namespace {

constexpr int Tokens = 1000;

struct Windows
{
    // The project's window, unlocked, as after a login.
    CMainWindow project{g_localDatabase};
    // The reference: a window of the same size with a Select Token menu
    // holding the same two fixed entries.
    QMainWindow reference;
    QMenu* referenceMenu = nullptr;
    std::vector<TokenListing> listings = benchfixtures::Listings(Tokens);

    Windows()
    {
        project.setLoggedIn();
        project.enableActions(true);
        project.show();
        reference.setFixedSize(389, 218);
        QMenu* file = reference.menuBar()->addMenu(QStringLiteral("&File"));
        referenceMenu = file->addMenu(QStringLiteral("S&elect Token"));
        referenceMenu->addAction(QStringLiteral("&Manage Tokens"));
        referenceMenu->addSeparator();
        reference.show();
        QCoreApplication::processEvents();
    }
};
Windows* g_windows = nullptr;

// Old entries are deleted later; deleting them belongs to the rebuild.
void DeleteRemovedEntries()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A rebuild that left its old entries alive would measure a growing window.
void CheckEntriesDeleted(benchmark::State& state, const QWidget& window)
{
    if (window.findChildren<QAction*>().size() > Tokens + 50) {
        state.SkipWithError("the removed entries were not deleted");
    }
}

void ProjectTokenMenu()
{
    g_windows->project.refreshTokenMenu();
    DeleteRemovedEntries();
}

void PlainMenuActions()
{
    QMenu* menu = g_windows->referenceMenu;
    for (QAction* entry : menu->actions().mid(2)) {
        menu->removeAction(entry);
        entry->deleteLater();
    }
    for (const TokenListing& listing : g_windows->listings) {
        auto* entry = new QAction(&g_windows->reference);
        entry->setText(QString::fromLatin1(listing.Title.c_str()));
        entry->setData(QVariant(listing.ID));
        entry->setCheckable(true);
        entry->setChecked(listing.ID == 1);
        menu->addAction(entry);
    }
    DeleteRemovedEntries();
}

void TokenMenu(benchmark::State& state)
{
    InTurns(state, false, ProjectTokenMenu, PlainMenuActions);
    CheckEntriesDeleted(state, g_windows->project);
    CheckEntriesDeleted(state, g_windows->reference);
}
BENCHMARK(TokenMenu);

QTableWidgetItem* Cell(const std::string& text)
{
    auto* item = new QTableWidgetItem(QString::fromLatin1(text.c_str()));
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    return item;
}

void PlainTableWidget()
{
    auto* table = new QTableWidget(&g_windows->reference);
    table->setColumnCount(4);
    for (int column = 0; column < 4; ++column) {
        table->setHorizontalHeaderItem(column, new QTableWidgetItem(QStringLiteral("Name")));
    }
    table->setGeometry(QRect(10, 10, 371, 131));
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setRowCount(Tokens);
    int row = 0;
    for (const TokenListing& listing : g_windows->listings) {
        QTableWidgetItem* name = Cell(listing.Name);
        name->setData(Qt::UserRole, QVariant(listing.ID));
        table->setItem(row, 0, name);
        table->setItem(row, 1, Cell(listing.Serial));
        table->setItem(row, 2, Cell(listing.DomainName));
        table->setItem(row, 3, Cell(listing.UserName));
        ++row;
    }
    delete table;
}

void ManageView(benchmark::State& state)
{
    InTurns(
        state, false,
        [] {
            delete new ManageTokensView(g_localDatabase, &g_windows->project, Qt::WindowFlags());
        },
        PlainTableWidget);
}
BENCHMARK(ManageView);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    try {
        benchfixtures::InstallTokens(g_localDatabase, Tokens, TokenTypeTOTP);
        QApplication application(argc, argv);
        Windows windows;
        g_windows = &windows;
        return RunFigures(
            argc, argv,
            {{"Many tokens: token menu of 1,000 vs 1,000 plain QActions", "TokenMenu", 1.5},
             {"Many tokens: manage view of 1,000 vs a filled QTableWidget", "ManageView", 1.5}});
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_views: %s\n", error.what());
        return 1;
    }
}
