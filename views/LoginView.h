#pragma once

#include <QDialog>

class LocalDatabase;
class QLabel;
class QLineEdit;
class QPushButton;

// Asks for the PIN at every start after one has been set.
class LoginView : public QDialog
{
    Q_OBJECT

public:
    LoginView(LocalDatabase& localDatabase, QWidget* parent, Qt::WindowFlags flags);
    ~LoginView() override;

public slots:
    // Escape does nothing: the PIN or Cancel are the only ways out.
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
    QPushButton* cancelButton;
    QLabel* label_2;
    QLineEdit* pinEdit;
    QLabel* label;
    QPushButton* okButton;
};
