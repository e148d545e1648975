// TIBBase: the binding through which a statement or dataset is attached to one database and one
// transaction. It registers its owner in their object lists and passes on their notifications
// (disconnect, end of transaction, destruction) to the hooks its owner sets.
#pragma once

#include <cstdint>
#include <functional>

namespace ibclient {

class TIBDatabase;
class TIBTransaction;

// API handles: 32-bit values, 0 meaning none (isc_db_handle and isc_tr_handle on 64-bit Linux).
// The components hand out the address of a handle, since the API fills and clears it in place.
using DbHandle = std::uint32_t;
using TrHandle = std::uint32_t;

// What kind of component owns a binding: a dataset owner is also registered as a client of
// the connection, so that it hears of connects and disconnects.
enum class TIBOwnerKind { Statement, DataSet };

class TIBBase {
public:
    // `owner` is the statement or dataset that this binding serves (may be null).
    explicit TIBBase(void* owner = nullptr, TIBOwnerKind ownerKind = TIBOwnerKind::Statement);
    // Detaches from the database, then from the transaction.
    virtual ~TIBBase();
    TIBBase(const TIBBase&) = delete;
    TIBBase& operator=(const TIBBase&) = delete;

    void* Owner() const noexcept { return owner_; }
    TIBOwnerKind OwnerKind() const noexcept { return ownerKind_; }
    TIBDatabase* Database() const noexcept { return database_; }
    TIBTransaction* Transaction() const noexcept { return transaction_; }

    // Hooks the owner may set, in the order the notifications are declared below.
    std::function<void()> BeforeDatabaseDisconnect;
    std::function<void()> AfterDatabaseDisconnect;
    std::function<void()> DatabaseFree;
    std::function<void()> BeforeTransactionEnd;
    std::function<void()> AfterTransactionEnd;
    std::function<void()> TransactionFree;
    // Connection-change notice for a dataset owner (true: now open, false: closing).
    std::function<void(bool connected)> ConnectionChange;

    // Notifications sent by the database and the transaction; each calls its hook if set.
    virtual void DoBeforeDatabaseDisconnect();
    virtual void DoAfterDatabaseDisconnect();
    // Calls the hook, then detaches both database and transaction.
    virtual void DoDatabaseFree();
    virtual void DoBeforeTransactionEnd();
    virtual void DoAfterTransactionEnd();
    // Calls the hook, then forgets the transaction (the transaction clears its own list).
    virtual void DoTransactionFree();
    void DoConnectionChange(bool connected);

    // RequireDatabase, then the address of the database's handle.
    virtual DbHandle* DatabaseHandle();
    // RequireTransaction, then the address of the transaction's handle.
    virtual TrHandle* TransactionHandle();

    // Leaves the old database's object list and joins the new one's (null: none). When no
    // transaction is attached yet, the database's default transaction is attached too.
    virtual void AttachDatabase(TIBDatabase* database);
    // Leaves the old transaction's object list and joins the new one's (null: none). When no
    // database is attached yet, the transaction's default database is attached too.
    virtual void AttachTransaction(TIBTransaction* transaction);

    // Client error 24 without database, then the database's RequireConnected (15).
    virtual void RequireDatabase() const;
    // Client error 25 without transaction, then the transaction's RequireActive (18).
    virtual void RequireTransaction() const;

private:
    TIBDatabase* database_ = nullptr;
    int databaseIndex_ = -1;  // slot in the database's object list
    TIBTransaction* transaction_ = nullptr;
    int transactionIndex_ = -1;  // slot in the transaction's object list
    void* owner_ = nullptr;
    TIBOwnerKind ownerKind_ = TIBOwnerKind::Statement;
};

}  // namespace ibclient
