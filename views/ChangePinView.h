#pragma once

#include <QDialog>

class LocalDatabase;
class QLabel;
class QLineEdit;
class QPushButton;

// Replaces the PIN after the current one has been given again.
class ChangePinView : public QDialog
{
    Q_OBJECT

public:
    ChangePinView(LocalDatabase& localDatabase, QWidget* parent, Qt::WindowFlags flags);
    ~ChangePinView() override;

public slots:
    // Escape goes back to the OTP view, as Cancel does.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void on_okButton_clicked();
    void on_cancelButton_clicked();

private:
    void setupUi();
    void retranslateUi();

    // The database the view reads and writes.
    LocalDatabase& database;
    QPushButton* cancelButton;
    QLabel* label_2;
    QLineEdit* pinEdit2;
    QLineEdit* pinEdit;
    QPushButton* okButton;
    QLabel* label_3;
    QLabel* label_4;
    QLineEdit* oldPinEdit;
};
