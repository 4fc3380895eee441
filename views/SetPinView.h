#pragma once

#include <QDialog>

class LocalDatabase;
class QLabel;
class QLineEdit;
class QPushButton;

// Asks for the first PIN while only the default one is stored.
class SetPinView : public QDialog
{
    Q_OBJECT

public:
    SetPinView(LocalDatabase& localDatabase, QWidget* parent, Qt::WindowFlags flags);
    ~SetPinView() override;

public slots:
    // Escape does nothing: there is no way past this form but a PIN or Cancel.
    void reject() override;

protected:
    // The PIN field takes the keyboard, so typing the PIN and Enter is all it takes.
    void showEvent(QShowEvent* event) override;

private slots:
    void on_okButton_clicked();
    void on_cancelButton_clicked();

private:
    void setupUi();
    void retranslateUi();

    // The database the view reads and writes.
    LocalDatabase& database;
    QPushButton* okButton;
    QPushButton* cancelButton;
    QLabel* label;
    QLabel* label_2;
    QLabel* label_3;
    QLineEdit* pinEdit2;
    QLineEdit* pinEdit;
};
