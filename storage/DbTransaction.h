#pragma once

#include "storage/DbConnection.h"

// One write transaction on a connection: begun at construction with
// "begin immediate", so the write lock is taken (or waited for) before
// anything is read; rolled back when it ends without commit().
class CDbTransaction
{
public:
    // Throws the connection's error when the transaction cannot begin.
    explicit CDbTransaction(CDbConnection& connection);
    CDbTransaction(const CDbTransaction&) = delete;
    CDbTransaction& operator=(const CDbTransaction&) = delete;
    ~CDbTransaction();

    // Throws when the commit fails; the destructor then rolls back.
    void commit();

private:
    CDbConnection& connection;
    bool committed;
};
