#pragma once

#include "storage/StoreKeyProvider.h"

#include <functional>
#include <memory>

class QCoreApplication;
class QObject;

// The store keys in the desktop keyring (Secret Service or KWallet), one item
// per store named after its store ID. The keyring's jobs are asynchronous:
// each call waits for its job in a local event loop, making a Qt Core
// application of its own when the program has none.
class CKeychainKeyProvider : public CStoreKeyProvider
{
public:
    CKeychainKeyProvider();
    ~CKeychainKeyProvider() override;

    std::string ReadKey(const std::string& storeId) override;
    void WriteKey(const std::string& storeId, const std::string& key) override;
    void RemoveKey(const std::string& storeId) override;

    // Reads the key without waiting, for a program running its event loop:
    // `done` gets the key, or an empty key and the reason, unless `context`
    // is gone first.
    using KeyReceiver = std::function<void(std::string key, const std::string& reason)>;
    static void ReadKeyLater(const std::string& storeId, QObject* context, KeyReceiver done);

private:
    void EnsureApplication();

    int argc = 1;
    char programName[12] = "velmora-cli";
    char* argv[2] = {programName, nullptr};
    std::unique_ptr<QCoreApplication> ownApplication;
};
