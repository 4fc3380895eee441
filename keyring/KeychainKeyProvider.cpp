#include "keyring/KeychainKeyProvider.h"

#include <qt6keychain/keychain.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <openssl/crypto.h>

namespace {

// The keyring's service name of every Velmora item.
const char Service[] = "org.velmora.Velmora";
// A locked keyring may ask the user for its password: time for that.
constexpr int AnswerMilliseconds = 120 * 1000;

void Wipe(QByteArray& bytes)
{
    if (!bytes.isEmpty()) {
        OPENSSL_cleanse(bytes.data(), static_cast<std::size_t>(bytes.size()));
    }
}

// What failed, in the user's words.
std::string Reason(const QKeychain::Job& job)
{
    switch (job.error()) {
    case QKeychain::EntryNotFound:
        return "it gives no key for this store (is it locked, or was the item removed?)";
    case QKeychain::AccessDenied:
    case QKeychain::AccessDeniedByUser:
        return "access was denied (is the keyring locked?)";
    case QKeychain::NoBackendAvailable:
        return "no desktop keyring is running";
    default:
        return "it cannot be reached or failed (" + job.errorString().toStdString() + ")";
    }
}

// Runs the job to its end; throws CStoreKeyError when it failed.
void Run(QKeychain::Job& job)
{
    job.setAutoDelete(false);
    // Never a plain file in place of the keyring.
    job.setInsecureFallback(false);
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&loop, &finished] {
        finished = true;
        loop.quit();
    });
    QTimer::singleShot(AnswerMilliseconds, &loop, &QEventLoop::quit);
    job.start();
    if (!finished) {
        loop.exec();
    }
    if (!finished) {
        throw CStoreKeyError("the desktop keyring did not answer in time");
    }
    if (job.error() != QKeychain::NoError) {
        throw CStoreKeyError(Reason(job));
    }
}

} // namespace

CKeychainKeyProvider::CKeychainKeyProvider() = default;

void CKeychainKeyProvider::EnsureApplication()
{
    if (QCoreApplication::instance() == nullptr) {
        ownApplication = std::make_unique<QCoreApplication>(argc, argv);
    }
}

CKeychainKeyProvider::~CKeychainKeyProvider() = default;

std::string CKeychainKeyProvider::ReadKey(const std::string& storeId)
{
    EnsureApplication();
    QKeychain::ReadPasswordJob job(QString::fromLatin1(Service));
    job.setKey(QString::fromStdString(storeId));
    Run(job);
    QByteArray data = job.binaryData();
    std::string key(data.constData(), static_cast<std::size_t>(data.size()));
    Wipe(data);
    return key;
}

void CKeychainKeyProvider::ReadKeyLater(const std::string& storeId, QObject* context,
                                        KeyReceiver done)
{
    auto* job = new QKeychain::ReadPasswordJob(QString::fromLatin1(Service));
    job->setKey(QString::fromStdString(storeId));
    job->setInsecureFallback(false);
    QObject::connect(job, &QKeychain::Job::finished, context, [job, receive = std::move(done)] {
        if (job->error() != QKeychain::NoError) {
            receive(std::string(), Reason(*job));
            return;
        }
        QByteArray data = job->binaryData();
        std::string key(data.constData(), static_cast<std::size_t>(data.size()));
        Wipe(data);
        receive(std::move(key), std::string());
    });
    job->start(); // deletes itself once finished
}

void CKeychainKeyProvider::WriteKey(const std::string& storeId, const std::string& key)
{
    EnsureApplication();
    QKeychain::WritePasswordJob job(QString::fromLatin1(Service));
    job.setKey(QString::fromStdString(storeId));
    QByteArray data(key.data(), static_cast<qsizetype>(key.size()));
    job.setBinaryData(data);
    Wipe(data);
    Run(job);
}

void CKeychainKeyProvider::RemoveKey(const std::string& storeId)
{
    EnsureApplication();
    QKeychain::DeletePasswordJob job(QString::fromLatin1(Service));
    job.setKey(QString::fromStdString(storeId));
    Run(job);
}
