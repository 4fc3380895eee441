#pragma once

#include <QDialog>

class LocalDatabase;
class QLabel;
class QLineEdit;
class QPushButton;

// Installs a token from a name, a serial and a seed.
class InstallView : public QDialog
{
    Q_OBJECT

public:
    InstallView(LocalDatabase& localDatabase, QWidget* parent, Qt::WindowFlags flags);
    ~InstallView() override;

public slots:
    // Escape returns to the OTP view, as Cancel does.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void on_okButton_clicked();
    void on_cancelButton_clicked();

private:
    void setupUi();
    void retranslateUi();
    // Says why the typed texts are refused, in the line under the fields.
    void showRefusal(const QString& reason);

    // The database the view reads and writes.
    LocalDatabase& database;
    QLineEdit* nameEdit;
    QLabel* labelName;
    QLabel* labelSerial;
    QLabel* labelSeed;
    QLineEdit* serialEdit;
    QLineEdit* seedEdit;
    QPushButton* okButton;
    QPushButton* cancelButton;
    QLabel* refusalLabel;
};
