#pragma once

#include <stdexcept>
#include <string>

// Why the store key could not be read, written or removed, in words for the
// user ("the desktop keyring is locked").
class CStoreKeyError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Where the store key of keyring protection lives, kept apart so that storage
// needs no desktop: the programs use the desktop keyring, tests a stand-in.
// Every operation throws CStoreKeyError saying what failed.
class CStoreKeyProvider
{
public:
    virtual ~CStoreKeyProvider() = default;

    // The key bytes kept under the store's ID.
    virtual std::string ReadKey(const std::string& storeId) = 0;
    virtual void WriteKey(const std::string& storeId, const std::string& key) = 0;
    virtual void RemoveKey(const std::string& storeId) = 0;

protected:
    CStoreKeyProvider() = default;
    CStoreKeyProvider(const CStoreKeyProvider&) = default;
    CStoreKeyProvider& operator=(const CStoreKeyProvider&) = default;
};
