#include "storage/DbTransaction.h"

#include <exception>

CDbTransaction::CDbTransaction(CDbConnection& owner) : connection(owner), committed(false)
{
    connection.executecached("begin immediate").nonquery();
}

CDbTransaction::~CDbTransaction()
{
    // SQLite has already rolled back after some errors (a full disk, an I/O
    // error); otherwise the transaction is still open and ends here.
    if (committed || !connection.intransaction()) {
        return;
    }
    try {
        connection.executecached("rollback").nonquery();
    } catch (const std::exception&) {
        // The caller is already reporting the error that made it roll back.
    }
}

void CDbTransaction::commit()
{
    connection.executecached("commit").nonquery();
    committed = true;
}
