#pragma once

#include <QDialog>

class LocalDatabase;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

// Writes every exportable token to a file of Key URIs or to a
// password-encrypted vault file (mode 0600, replaced atomically), and lists
// the tokens that cannot be exported with the reason. Opened once the PIN has
// been given again.
class ExportDialog : public QDialog
{
    Q_OBJECT

public:
    ExportDialog(LocalDatabase& localDatabase, QWidget* parent);
    ~ExportDialog() override;

    // Writes the export to `path`; false with the reason shown when nothing was written.
    bool exportTo(const QString& path);

private slots:
    void on_exportButton_clicked();
    void on_vaultRadio_toggled(bool vault);

private:
    void setupUi();
    void retranslateUi();
    // The passwords typed for a vault; empty with the reason shown when they will not do.
    bool passwordsAgree();

    LocalDatabase& database;

    QLabel* formatLabel;
    QRadioButton* vaultRadio;
    QRadioButton* uriRadio;
    QLabel* passwordLabel;
    QLineEdit* passwordEdit;
    QLabel* repeatLabel;
    QLineEdit* repeatEdit;
    QLabel* refusedLabel;
    QPlainTextEdit* refusedList;
    QLabel* statusLabel;
    QPushButton* exportButton;
    QPushButton* cancelButton;
};
