#include "views/ManageTokensView.h"
#include "storage/Diagnostics.h"
#include "storage/LocalDatabase.h"
#include "views/FormBuilder.h"
#include "views/Local8Bit.h"
#include "views/StorageGuard.h"
#include "views/ViewHost.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QMessageBox>
#include <QMetaObject>
#include <QModelIndex>
#include <QModelIndexList>
#include <QPushButton>
#include <QRect>
#include <QShortcut>
#include <QTableWidget>
#include <QTableWidgetItem>
#include <QTextDocument>
#include <QVariant>

#include <string>
#include <vector>

namespace {

// A read-only cell: it can be selected but not edited.
QTableWidgetItem* MakeCell(const std::string& text)
{
    auto* item = new QTableWidgetItem(fromLocal8BitString(text));
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    return item;
}

} // namespace

ManageTokensView::ManageTokensView(LocalDatabase& localDatabase, QWidget* parent,
                                   Qt::WindowFlags flags)
    : QWidget(parent, flags), database(localDatabase)
{
    setupUi();
    loadTokens();
}

ManageTokensView::~ManageTokensView() = default;

void ManageTokensView::setupUi()
{
    if (objectName().isEmpty()) {
        setObjectName(QString::fromUtf8("ManageTokensView"));
    }
    resize(392, 188);

    tableWidget = new QTableWidget(this);
    if (tableWidget->columnCount() < 4) {
        tableWidget->setColumnCount(4);
    }
    for (int column = 0; column < 4; ++column) {
        tableWidget->setHorizontalHeaderItem(column, new QTableWidgetItem());
    }
    tableWidget->setObjectName(QString::fromUtf8("tableWidget"));
    tableWidget->setGeometry(QRect(10, 10, 371, 131));
    tableWidget->setSelectionMode(QAbstractItemView::SingleSelection);
    tableWidget->setSelectionBehavior(QAbstractItemView::SelectRows);
    // A list, not a spreadsheet: Tab goes on to the buttons, and every column
    // shares the view's width, so none is cut off at its edge.
    tableWidget->setTabKeyNavigation(false);
    tableWidget->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);

    doneButton = AddWidget<QPushButton>(this, "doneButton", QRect(290, 150, 95, 31));

    addButton = AddWidget<QPushButton>(this, "addButton", QRect(10, 150, 31, 31));

    removeButton = AddWidget<QPushButton>(this, "removeButton", QRect(40, 150, 31, 31));

    QWidget::setTabOrder(tableWidget, addButton);
    QWidget::setTabOrder(addButton, removeButton);
    QWidget::setTabOrder(removeButton, doneButton);

    retranslateUi();
    QMetaObject::connectSlotsByName(this);
    // Enter or a double-click on a row shows that token: with many tokens the
    // list is the easier way to one of them.
    connect(tableWidget, &QAbstractItemView::activated, this, &ManageTokensView::showToken);
    // Delete on the list removes the selected token, through the same question as "-".
    auto* deleteKey = new QShortcut(QKeySequence::Delete, tableWidget);
    deleteKey->setContext(Qt::WidgetShortcut);
    connect(deleteKey, &QShortcut::activated, this, &ManageTokensView::on_removeButton_clicked);
}

void ManageTokensView::retranslateUi()
{
    setWindowTitle(QCoreApplication::translate("ManageTokensView", "Form"));
    tableWidget->horizontalHeaderItem(0)->setText(
        QCoreApplication::translate("ManageTokensView", "Name"));
    tableWidget->horizontalHeaderItem(1)->setText(
        QCoreApplication::translate("ManageTokensView", "Serial"));
    tableWidget->horizontalHeaderItem(2)->setText(
        QCoreApplication::translate("ManageTokensView", "Domain"));
    tableWidget->horizontalHeaderItem(3)->setText(
        QCoreApplication::translate("ManageTokensView", "User Name"));
    doneButton->setText(QCoreApplication::translate("ManageTokensView", "&Done"));
    addButton->setText(QCoreApplication::translate("ManageTokensView", "+"));
    removeButton->setText(QCoreApplication::translate("ManageTokensView", "-"));
}

void ManageTokensView::loadTokens()
{
    std::vector<TokenListing> tokens;
    // Unreadable storage leaves the list empty; the error box has said why.
    if (!GuardStorage(this, tr("read the installed tokens"),
                      [this, &tokens] { tokens = database.ListTokens(); })) {
        return;
    }
    if (tokens.empty()) {
        return;
    }

    tableWidget->setRowCount(static_cast<int>(tokens.size()));
    int row = 0;
    for (const TokenListing& token : tokens) {
        QTableWidgetItem* name = MakeCell(token.Name);
        // The ID is the only link from a row back to the stored token.
        name->setData(Qt::UserRole, QVariant(static_cast<int>(token.ID)));
        // The whole name, where the column cuts a long one short.
        name->setToolTip(name->text());
        tableWidget->setItem(row, 0, name);
        tableWidget->setItem(row, 1, MakeCell(token.Serial));
        tableWidget->setItem(row, 2, MakeCell(token.DomainName));
        tableWidget->setItem(row, 3, MakeCell(token.UserName));
        ++row;
    }
}

void ManageTokensView::on_doneButton_clicked()
{
    if (CViewHost* host = ViewHostOf(this)) {
        host->otp();
    }
}

void ManageTokensView::on_addButton_clicked()
{
    if (CViewHost* host = ViewHostOf(this)) {
        host->installToken();
    }
}

void ManageTokensView::showToken(const QModelIndex& index)
{
    const QTableWidgetItem* item = tableWidget->item(index.row(), 0);
    CViewHost* host = ViewHostOf(this);
    if (item != nullptr && host != nullptr) {
        host->selectToken(item->data(Qt::UserRole).toInt());
    }
}

void ManageTokensView::on_removeButton_clicked()
{
    // Only a row the user can see selected: tabbing into the table makes a
    // row current without selecting it.
    const QModelIndexList selected = tableWidget->selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        return;
    }
    const int row = selected.first().row();
    const QTableWidgetItem* item = tableWidget->item(row, 0);

    // No is the default, so that Enter or Space keeps the token. The name
    // says which token the question is about.
    QMessageBox question(QMessageBox::Warning, QString::fromLatin1("Warning"),
                         tr("Are you sure you want to delete this token?"),
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setDefaultButton(QMessageBox::No);
    if (item != nullptr) {
        // As typed, even where a name looks like markup.
        question.setInformativeText(Qt::convertFromPlainText(item->text()));
    }
    if (question.exec() != QMessageBox::Yes) {
        return;
    }

    if (item == nullptr) {
        ReportDiagnostic("tableWidget: can't find item at (" + std::to_string(row) + ",0)");
        return;
    }
    const int id = item->data(Qt::UserRole).toInt();

    // Not deleted: the row stays, so the list keeps matching storage.
    if (!GuardStorage(this, tr("delete the token"), [this, id] { database.DeleteToken(id); })) {
        return;
    }
    tableWidget->removeRow(row);

    if (CViewHost* host = ViewHostOf(this)) {
        host->refreshTokenMenu();
    }
}
