#include "views/VaultBackup.h"

#include "interop/Interchange.h"
#include "storage/LocalDatabase.h"
#include "views/StorageGuard.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QString>

#include <openssl/crypto.h>

namespace {

QString Text(const char* text)
{
    return QCoreApplication::translate("VaultBackup", text);
}

void Wipe(QString& text)
{
    if (!text.isEmpty()) {
        OPENSSL_cleanse(text.data(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
    }
}

// The vault's password, typed twice; empty when cancelled or not repeated.
QString AskPassword(QWidget* parent)
{
    bool ok = false;
    QString password = QInputDialog::getText(parent, Text("Backup"), Text("Password of the vault:"),
                                             QLineEdit::Password, QString(), &ok);
    if (!ok || password.isEmpty()) {
        return QString();
    }
    QString again = QInputDialog::getText(parent, Text("Backup"), Text("Repeat the password:"),
                                          QLineEdit::Password, QString(), &ok);
    const bool same = ok && again == password;
    Wipe(again);
    if (!same) {
        Wipe(password);
        QMessageBox::warning(parent, Text("Backup"), Text("The two passwords differ."));
        return QString();
    }
    return password;
}

} // namespace

bool OfferVaultBackup(LocalDatabase& database, QWidget* parent)
{
    const QMessageBox::StandardButton answer = QMessageBox::question(
        parent, Text("Keyring protection"),
        Text("From now on the tokens open only with this desktop keyring: if the keyring is "
             "lost, so are the tokens.\n\nWrite an encrypted vault backup of them first?"),
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
    if (answer != QMessageBox::Yes) {
        return answer == QMessageBox::No;
    }
    const QString path = QFileDialog::getSaveFileName(
        parent, Text("Backup"), QDir::homePath() + QStringLiteral("/velmora-backup.json"));
    if (path.isEmpty()) {
        return false;
    }
    QString password = AskPassword(parent);
    if (password.isEmpty()) {
        return false;
    }
    std::string secret = password.toStdString();
    Wipe(password);
    CExport vault;
    const bool written = GuardStorage(parent, Text("write the backup"), [&] {
        vault = ExportVault(database.GetAllTokens(), secret);
        WriteFileAtomically(QFile::encodeName(path).toStdString(), vault.Bytes);
    });
    OPENSSL_cleanse(secret.data(), secret.size());
    OPENSSL_cleanse(vault.Bytes.data(), vault.Bytes.size());
    if (written && !vault.Refused.empty()) {
        QMessageBox::warning(parent, Text("Backup"),
                             QCoreApplication::translate(
                                 "VaultBackup", "%n token(s) could not be written to the backup.",
                                 nullptr, static_cast<int>(vault.Refused.size())));
    }
    return written;
}
