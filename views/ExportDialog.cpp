#include "views/ExportDialog.h"

#include "interop/Interchange.h"
#include "storage/LocalDatabase.h"
#include "views/FormBuilder.h"
#include "views/StorageGuard.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRect>

#include <openssl/crypto.h>

#include <exception>
#include <string>
#include <vector>

namespace {

QString Text(const std::string& utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

void Wipe(std::string& secret)
{
    OPENSSL_cleanse(secret.data(), secret.size());
}

} // namespace

ExportDialog::ExportDialog(LocalDatabase& localDatabase, QWidget* parent)
    : QDialog(parent), database(localDatabase)
{
    setupUi();
    // Which tokens stay behind is known before anything is chosen.
    std::vector<COtpTokenPtr> tokens;
    if (GuardStorage(this, tr("read the installed tokens"),
                     [this, &tokens] { tokens = database.GetAllTokens(); })) {
        CExport probe = ExportKeyUris(tokens);
        Wipe(probe.Bytes);
        QStringList lines;
        for (const CExportRefusal& refusal : probe.Refused) {
            lines << tr("%1: %2").arg(Text(refusal.Name), Text(refusal.Reason));
        }
        refusedList->setPlainText(lines.isEmpty() ? tr("(none: every token can be exported)")
                                                  : lines.join(QLatin1Char('\n')));
        statusLabel->setText(tr("Tokens that can be exported: %1.").arg(probe.Count));
        exportButton->setEnabled(probe.Count > 0);
    }
}

ExportDialog::~ExportDialog() = default;

void ExportDialog::setupUi()
{
    setObjectName(QStringLiteral("ExportDialog"));
    setFixedSize(480, 330);
    formatLabel = AddWidget<QLabel>(this, "formatLabel", QRect(12, 10, 456, 20));
    vaultRadio = AddWidget<QRadioButton>(this, "vaultRadio", QRect(24, 32, 444, 22));
    uriRadio = AddWidget<QRadioButton>(this, "uriRadio", QRect(24, 56, 444, 22));
    vaultRadio->setChecked(true);
    passwordLabel = AddWidget<QLabel>(this, "passwordLabel", QRect(24, 88, 150, 24));
    passwordEdit = AddWidget<QLineEdit>(this, "passwordEdit", QRect(180, 86, 288, 26));
    repeatLabel = AddWidget<QLabel>(this, "repeatLabel", QRect(24, 120, 150, 24));
    repeatEdit = AddWidget<QLineEdit>(this, "repeatEdit", QRect(180, 118, 288, 26));
    for (QLineEdit* edit : {passwordEdit, repeatEdit}) {
        edit->setEchoMode(QLineEdit::Password);
    }
    passwordLabel->setBuddy(passwordEdit);
    repeatLabel->setBuddy(repeatEdit);
    refusedLabel = AddWidget<QLabel>(this, "refusedLabel", QRect(12, 154, 456, 20));
    refusedList = AddWidget<QPlainTextEdit>(this, "refusedList", QRect(12, 176, 456, 70));
    refusedList->setReadOnly(true);
    refusedList->setTabChangesFocus(true);
    refusedLabel->setBuddy(refusedList);
    statusLabel = AddWidget<QLabel>(this, "statusLabel", QRect(12, 250, 456, 36));
    statusLabel->setWordWrap(true);
    exportButton = AddWidget<QPushButton>(this, "exportButton", QRect(262, 292, 100, 30));
    cancelButton = AddWidget<QPushButton>(this, "cancelButton", QRect(368, 292, 100, 30));
    exportButton->setDefault(true);
    cancelButton->setAutoDefault(false);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    SetTabChain(
        {vaultRadio, uriRadio, passwordEdit, repeatEdit, refusedList, exportButton, cancelButton});
    // The vault's password is what most exports need typed first.
    passwordEdit->setFocus();

    retranslateUi();
    QMetaObject::connectSlotsByName(this);
}

void ExportDialog::retranslateUi()
{
    setWindowTitle(QCoreApplication::translate("ExportDialog", "Export Tokens"));
    formatLabel->setText(QCoreApplication::translate("ExportDialog", "Write the tokens as:"));
    vaultRadio->setText(
        QCoreApplication::translate("ExportDialog", "an encrypted &vault file (password below)"));
    uriRadio->setText(QCoreApplication::translate(
        "ExportDialog", "&Key URIs, unencrypted: whoever reads the file has the secrets"));
    passwordLabel->setText(QCoreApplication::translate("ExportDialog", "Pass&word:"));
    repeatLabel->setText(QCoreApplication::translate("ExportDialog", "&Repeat password:"));
    refusedLabel->setText(QCoreApplication::translate("ExportDialog", "Not e&xported:"));
    exportButton->setText(QCoreApplication::translate("ExportDialog", "&Export\u2026"));
    cancelButton->setText(QCoreApplication::translate("ExportDialog", "Cancel"));
}

void ExportDialog::on_vaultRadio_toggled(bool vault)
{
    for (QWidget* field :
         {static_cast<QWidget*>(passwordLabel), static_cast<QWidget*>(passwordEdit),
          static_cast<QWidget*>(repeatLabel), static_cast<QWidget*>(repeatEdit)}) {
        field->setEnabled(vault);
    }
}

bool ExportDialog::passwordsAgree()
{
    if (!vaultRadio->isChecked()) {
        return true;
    }
    if (passwordEdit->text().isEmpty()) {
        statusLabel->setText(tr("A vault needs a password."));
        passwordEdit->setFocus();
        return false;
    }
    if (passwordEdit->text() != repeatEdit->text()) {
        statusLabel->setText(tr("The two passwords differ."));
        repeatEdit->clear();
        repeatEdit->setFocus();
        return false;
    }
    return true;
}

void ExportDialog::on_exportButton_clicked()
{
    if (!passwordsAgree()) {
        return;
    }
    const bool vault = vaultRadio->isChecked();
    const QString suggested = QDir::home().filePath(vault ? QStringLiteral("velmora-vault.json")
                                                          : QStringLiteral("velmora-tokens.txt"));
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Export to File"), suggested,
                                     vault ? tr("Vault files (*.json)") : tr("Key URIs (*.txt)"));
    if (!path.isEmpty() && exportTo(path)) {
        cancelButton->setText(tr("Close"));
        cancelButton->setFocus();
    }
}

bool ExportDialog::exportTo(const QString& path)
{
    if (!passwordsAgree()) {
        return false;
    }
    std::vector<COtpTokenPtr> tokens;
    if (!GuardStorage(this, tr("read the installed tokens"),
                      [this, &tokens] { tokens = database.GetAllTokens(); })) {
        statusLabel->setText(tr("Nothing was written."));
        return false;
    }
    std::string password = passwordEdit->text().toStdString();
    try {
        CExport exported =
            vaultRadio->isChecked() ? ExportVault(tokens, password) : ExportKeyUris(tokens);
        Wipe(password);
        if (exported.Count == 0) {
            statusLabel->setText(tr("No token can be exported; nothing was written."));
            return false;
        }
        try {
            WriteFileAtomically(QFile::encodeName(path).toStdString(), exported.Bytes);
        } catch (...) {
            Wipe(exported.Bytes);
            throw;
        }
        Wipe(exported.Bytes);
        statusLabel->setText(tr("Tokens written to %1: %2.").arg(path).arg(exported.Count));
        return true;
    } catch (const std::exception& error) {
        Wipe(password);
        statusLabel->setText(tr("Nothing was written: %1.").arg(Text(error.what())));
        return false;
    }
}
