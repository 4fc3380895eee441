#pragma once

#include "storage/StoreKeyProvider.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace testsupport {

// A keyring stand-in for tests and the fault driver: each store key in a file
// "key-<store ID>" of a directory, so that separate processes share it.
class CFileKeyProvider : public CStoreKeyProvider
{
public:
    explicit CFileKeyProvider(std::string place) : directory(std::move(place)) {}

    std::string ReadKey(const std::string& storeId) override
    {
        std::ifstream file(Path(storeId), std::ios::binary);
        if (!file) {
            throw CStoreKeyError("it holds no item for this store");
        }
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    void WriteKey(const std::string& storeId, const std::string& key) override
    {
        std::ofstream file(Path(storeId), std::ios::binary | std::ios::trunc);
        if (!file.write(key.data(), static_cast<std::streamsize>(key.size())).flush()) {
            throw CStoreKeyError("cannot write the key file");
        }
    }
    void RemoveKey(const std::string& storeId) override { std::remove(Path(storeId).c_str()); }

private:
    std::string Path(const std::string& storeId) const { return directory + "/key-" + storeId; }
    std::string directory;
};

} // namespace testsupport
