#ifndef VELMORA_STORAGE_CREDENTIALSAHEAD_H
#define VELMORA_STORAGE_CREDENTIALSAHEAD_H

#include "storage/LocalDatabase.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Encrypts a file-mode batch's Credentials on a thread of its own, in row
// order, while the caller inserts the rows: the fixed triple-DES form costs
// about as much as the inserts themselves, so the two run side by side.
class LocalDatabase::CredentialsAhead
{
public:
    // Worth a thread only for a batch this large, with a second core.
    static bool IsWorthwhile(std::size_t count);

    // Starts the worker; throws std::system_error when no thread can start.
    // The database and the tokens outlive this object and do not change.
    CredentialsAhead(const LocalDatabase& owner, const std::vector<COtpTokenPtr>& batch);
    // Stops the worker after the value it is encrypting and waits for it.
    ~CredentialsAhead();
    CredentialsAhead(const CredentialsAhead&) = delete;
    CredentialsAhead& operator=(const CredentialsAhead&) = delete;

    // The i-th token's Credential, waiting for it; rethrows the worker's
    // failure when it stopped before that one. Each index is taken once.
    std::string Take(std::size_t i);

private:
    void Run();

    const LocalDatabase& database;
    const std::vector<COtpTokenPtr>& tokens;
    std::vector<std::string> credentials;
    std::mutex mutex;
    std::condition_variable ready;
    std::size_t done = 0;
    std::exception_ptr failure;
    std::atomic<bool> stop{false};
    std::thread worker;
};

#endif
