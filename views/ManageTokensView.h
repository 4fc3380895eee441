#pragma once

#include <QWidget>

class LocalDatabase;
class QModelIndex;
class QPushButton;
class QTableWidget;

// Lists the installed tokens; shows or deletes one, leads to the install form
// and back to the OTP view.
class ManageTokensView : public QWidget
{
    Q_OBJECT

public:
    ManageTokensView(LocalDatabase& localDatabase, QWidget* parent, Qt::WindowFlags flags);
    ~ManageTokensView() override;

private slots:
    void on_doneButton_clicked();
    void on_addButton_clicked();
    void on_removeButton_clicked();

private:
    void setupUi();
    void retranslateUi();
    void loadTokens();
    // Enter or a double-click on a row: shows that row's token.
    void showToken(const QModelIndex& index);

    // The database the view reads and writes.
    LocalDatabase& database;
    QTableWidget* tableWidget;
    QPushButton* doneButton;
    QPushButton* addButton;
    QPushButton* removeButton;
};
