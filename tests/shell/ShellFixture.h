#pragma once

#include <QStringList>

#include <functional>
#include <string>

namespace shelltest {

// What the application reported while its storage failed.
struct StorageFailure
{
    QStringList boxes;   // every modal message box, as "title|text"
    std::string written; // everything written to standard error
};

// Runs `run` while a second connection holds an exclusive lock on the test
// database, as another program could, so that every statement of the
// application fails. Each message box is closed as soon as it shows.
StorageFailure FailStorageDuring(const std::function<void()>& run);

} // namespace shelltest
