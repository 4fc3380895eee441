#include "views/ManageTokensView.h"
#include "storage/Diagnostics.h"
#include "storage/LocalDatabase.h"
#include "views/FormBuilder.h"
#include "views/StorageGuard.h"
#include "views/ViewHost.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QRect>
#include <QTableWidget>
#include <QTableWidgetItem>
#include <QVariant>

#include <string>
#include <vector>

namespace {

// A read-only cell: it can be selected but not edited.
QTableWidgetItem* MakeCell(const std::string& text)
{
    auto* item = new QTableWidgetItem(QString::fromLatin1(text.c_str()));
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    return item;
}

} // namespace

ManageTokensView::ManageTokensView(QWidget* parent, Qt::WindowFlags flags) : QWidget(parent, flags)
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

    doneButton = AddWidget<QPushButton>(this, "doneButton", QRect(290, 150, 95, 31));

    addButton = AddWidget<QPushButton>(this, "addButton", QRect(10, 150, 31, 31));

    removeButton = AddWidget<QPushButton>(this, "removeButton", QRect(40, 150, 31, 31));

    QWidget::setTabOrder(tableWidget, addButton);
    QWidget::setTabOrder(addButton, removeButton);
    QWidget::setTabOrder(removeButton, doneButton);

    retranslateUi();
    QMetaObject::connectSlotsByName(this);
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
                      [&tokens] { tokens = g_localDatabase.ListTokens(); })) {
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

void ManageTokensView::on_removeButton_clicked()
{
    const int row = tableWidget->currentRow();
    if (row == -1) {
        return;
    }

    const QMessageBox::StandardButton answer = QMessageBox::warning(
        this, QString::fromLatin1("Warning"), tr("Are you sure you want to delete this token?"),
        QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes) {
        return;
    }

    const QTableWidgetItem* item = tableWidget->item(row, 0);
    if (item == nullptr) {
        ReportDiagnostic("tableWidget: can't find item at (" + std::to_string(row) + ",0)");
        return;
    }
    const int id = item->data(Qt::UserRole).toInt();

    // Not deleted: the row stays, so the list keeps matching storage.
    if (!GuardStorage(this, tr("delete the token"), [id] { g_localDatabase.DeleteToken(id); })) {
        return;
    }
    tableWidget->removeRow(row);

    if (CViewHost* host = ViewHostOf(this)) {
        host->refreshTokenMenu();
    }
}
