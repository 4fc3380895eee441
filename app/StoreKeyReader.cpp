#include "app/StoreKeyReader.h"

#include "app/InputHold.h"
#include "keyring/KeychainKeyProvider.h"
#include "storage/Diagnostics.h"
#include "storage/LocalDatabase.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QWidget>

#include <openssl/crypto.h>

#include <exception>
#include <string>

CStoreKeyReader::CStoreKeyReader(LocalDatabase& localDatabase, QWidget* shown)
    : QObject(shown), database(localDatabase), window(shown)
{
}

void CStoreKeyReader::Read()
{
    if (hold != nullptr) {
        return;
    }
    std::string storeId;
    try {
        storeId = database.GetMissingStoreKeyId();
    } catch (const std::exception& error) {
        Refuse(QString::fromLocal8Bit(error.what()));
        return;
    }
    if (storeId.empty()) {
        return;
    }
    hold = new CInputHold(window);
    CKeychainKeyProvider::ReadKeyLater(
        storeId, hold, [this, storeId](std::string key, const std::string& reason) {
            hold->deleteLater();
            hold = nullptr;
            try {
                if (!reason.empty()) {
                    throw CStoreKeyError(database.DescribeKeyFailure(reason));
                }
                database.SetStoreKey(storeId, key);
                OPENSSL_cleanse(key.data(), key.size());
            } catch (const std::exception& error) {
                OPENSSL_cleanse(key.data(), key.size());
                Refuse(QString::fromLocal8Bit(error.what()));
            }
        });
}

void CStoreKeyReader::Renew()
{
    database.ForgetStoreKey();
    Read();
}

void CStoreKeyReader::Refuse(const QString& reason)
{
    ReportDiagnostic("Velmora: " + reason.toLocal8Bit().toStdString());
    // Queued: the reply that brought the refusal is still being delivered.
    QMetaObject::invokeMethod(
        this,
        [this, reason] {
            QMessageBox box(QMessageBox::Critical, QStringLiteral("Velmora"), reason,
                            QMessageBox::Retry | QMessageBox::Close, window);
            box.setDefaultButton(QMessageBox::Retry);
            if (box.exec() == QMessageBox::Retry) {
                Read();
            } else {
                QCoreApplication::exit(1);
            }
        },
        Qt::QueuedConnection);
}
