#include "storage/CredentialsAhead.h"

#include "otp/OtpToken.h"

#include <utility>

namespace {

// Below this the thread's start costs more than it saves.
const std::size_t SmallestBatch = 64;

} // namespace

bool LocalDatabase::CredentialsAhead::IsWorthwhile(std::size_t count)
{
    return count >= SmallestBatch && std::thread::hardware_concurrency() > 1;
}

LocalDatabase::CredentialsAhead::CredentialsAhead(const LocalDatabase& owner,
                                                  const std::vector<COtpTokenPtr>& batch)
    : database(owner), tokens(batch), credentials(batch.size())
{
    worker = std::thread(&CredentialsAhead::Run, this);
}

LocalDatabase::CredentialsAhead::~CredentialsAhead()
{
    stop = true;
    worker.join();
}

std::string LocalDatabase::CredentialsAhead::Take(std::size_t i)
{
    std::unique_lock<std::mutex> lock(mutex);
    ready.wait(lock, [&] { return done > i || failure; });
    if (done > i) {
        return std::move(credentials[i]);
    }
    std::rethrow_exception(failure);
}

void LocalDatabase::CredentialsAhead::Run()
{
    try {
        CipherContextsPtr contexts = NewCipherContexts();
        for (std::size_t i = 0; i < tokens.size() && !stop; ++i) {
            std::string credential = database.EncodeFileCredential(*contexts, *tokens[i]);
            {
                const std::lock_guard<std::mutex> lock(mutex);
                credentials[i] = std::move(credential);
                ++done;
            }
            ready.notify_one();
        }
    } catch (...) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            failure = std::current_exception();
        }
        ready.notify_one();
    }
}
