#pragma once

#include "interop/ImportPlan.h"
#include "interop/Interchange.h"

#include <QDialog>
#include <QString>

#include <string>
#include <vector>

class LocalDatabase;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

// Brings accounts in from QR codes on the screen, a file, the clipboard or
// typed URIs. Everything found is listed (name, type, new / already installed
// / refused and why) before Import stores the new ones in one transaction and
// shows the first of them. A failed import stores nothing and leaves the
// dialog open.
class ImportDialog : public QDialog
{
    Q_OBJECT

public:
    ImportDialog(LocalDatabase& localDatabase, QWidget* parent);
    ~ImportDialog() override;

    // Reads whatever the interchange layer knows (URIs, payloads, a vault, an
    // image); what it holds joins the list. `source` names it in messages.
    void addInput(const std::string& bytes, const QString& source);

private slots:
    void on_scanButton_clicked();
    void on_openButton_clicked();
    void on_pasteButton_clicked();
    void on_addTextButton_clicked();
    void on_importButton_clicked();

private:
    void setupUi();
    void retranslateUi();
    // Adds what a source gave (each entry once, however often it is found)
    // and says what was found, or `nothingFound` when it gave nothing.
    void addEntries(const std::vector<CImportEntry>& found, const QString& nothingFound);
    // Classifies the listed entries against the stored tokens and shows them.
    bool replan();

    LocalDatabase& database;
    std::vector<CImportEntry> entries;
    CImportPlan plan;

    QPushButton* scanButton;
    QPushButton* openButton;
    QPushButton* pasteButton;
    QLabel* textLabel;
    QPlainTextEdit* uriEdit;
    QPushButton* addTextButton;
    QLabel* statusLabel;
    QTableWidget* entryTable;
    QPushButton* importButton;
    QPushButton* cancelButton;
};
