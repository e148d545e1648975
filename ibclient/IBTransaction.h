// TIBTransaction: at most one InterBase transaction at a time, started over the databases it
// lists and ended by commit or rollback. Bound statements and datasets hear before and after
// the transaction ends, so that they can close what belongs to it.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "ibclient/Handles.h"
#include "ibclient/IBBase.h"
#include "ibclient/ParamList.h"
#include "ibclient/SlotList.h"

namespace ibclient {

class TIBDatabase;

// How an active transaction is ended when its database disconnects or it is destroyed.
enum TTransactionAction {
    TARollback = 0,
    TACommit = 1,
    TARollbackRetaining = 2,
    TACommitRetaining = 3,
};

// Ending the transaction when its last dataset closes; only saNone is used in this system.
enum TAutoStopAction { saNone, saRollback, saCommit, saRollbackRetaining, saCommitRetaining };

class TIBTransaction {
public:
    // Loads the client library (client error 1 when it is missing).
    TIBTransaction();
    // Ends an active transaction by DefaultAction, forced (errors swallowed), tells every
    // bound object, and leaves every listed database.
    ~TIBTransaction();
    TIBTransaction(const TIBTransaction&) = delete;
    TIBTransaction& operator=(const TIBTransaction&) = delete;

    // True while a transaction handle is held. Writing true starts an inactive transaction,
    // writing false rolls an active one back (not DefaultAction); otherwise nothing happens.
    bool Active() const noexcept { return handle_.Held(); }
    void SetActive(bool value);

    // Client errors 19 (active), 21 (no database listed), 15 (a listed database closed), then
    // the server's error; a refused start leaves the handle 0.
    void Start();
    // FinishTransaction(TACommit, false) / FinishTransaction(TARollback, false).
    void Commit();
    void Rollback();
    void CommitRetaining();
    void RollbackRetaining();
    // Ends the transaction by `action` (client error 18 when inactive). Commit and rollback
    // notify the bound objects before and after. Not forced: a refused end, or a bound
    // object's error before it, raises and the transaction stays active. Forced: the bound
    // objects' errors are contained, a refused commit is followed by one rollback and the
    // handle is dropped whatever the results, without an error.
    void FinishTransaction(TTransactionAction action, bool force);
    // Sent by a database before it detaches: an active transaction is ended forced, by commit
    // when DefaultAction is a commit, else by rollback.
    void ReleaseOnDisconnect();

    TIBDatabase* DefaultDatabase() const noexcept { return defaultDatabase_; }
    // Leaves the previous default's list, joins the new one's (both lists link each other),
    // and gives the database to every bound object that has none.
    void SetDefaultDatabase(TIBDatabase* database);

    TTransactionAction DefaultAction() const noexcept { return defaultAction_; }
    // Client error 3 for TARollbackRetaining on a version-5 client library.
    void SetDefaultAction(TTransactionAction action);

    TAutoStopAction AutoStopAction() const noexcept { return autoStopAction_; }
    void SetAutoStopAction(TAutoStopAction action) noexcept { autoStopAction_ = action; }

    // Idle time in milliseconds; 0 = off. Never enabled in this system; negative: error 20.
    int IdleTimer() const noexcept { return idleTimer_; }
    void SetIdleTimer(int milliseconds);
    std::function<void()> OnIdleTimer;

    // Transaction parameter lines; every edit requires the transaction to be inactive (19) and
    // marks the TPB for rebuilding at the next start.
    TParamList& Params() noexcept { return params_; }
    const TParamList& Params() const noexcept { return params_; }
    // The TPB of the last successful build (empty: none) and whether Params changed since.
    const std::vector<std::uint8_t>& TPB() const noexcept { return tpb_; }
    bool ParamsDirty() const noexcept { return paramsDirty_; }

    // Client error 18 when inactive / 19 when active / 21 without a listed database.
    void RequireActive() const;
    void RequireInactive() const;
    void RequireDatabases() const;

    // Address of the transaction handle (the API fills and clears it in place).
    TrHandle* Handle() noexcept { return handle_.Address(); }

    // Database list (slots of removed entries stay empty until reused).
    int DatabaseCount() const noexcept { return databases_.Count(); }
    TIBDatabase* Databases(int index) const noexcept { return databases_.At(index); }
    int FindDatabase(const TIBDatabase* database) const noexcept {
        return databases_.Find(database);
    }
    // Lists `database` here and this transaction in the database (each only once).
    int AddDatabase(TIBDatabase* database);
    // Empties slot `index`; the database forgets this transaction too. A removed default
    // database stops being the default.
    void RemoveDatabase(int index);
    void RemoveDatabases();
    // DefaultDatabase if set, else the first listed database whose DefaultTransaction is this
    // transaction; null if none.
    TIBDatabase* FindDefaultDatabase() const noexcept;

    // Object list of bound statements and datasets (maintained by TIBBase).
    int ObjectCount() const noexcept { return objects_.Count(); }
    TIBBase* Objects(int index) const noexcept { return objects_.At(index); }
    int AddObject(TIBBase* object) { return objects_.Add(object); }
    void RemoveObject(int index) noexcept { objects_.Remove(index); }

private:
    TTransactionAction DisconnectAction() const noexcept;

    TTransactionHandle handle_;
    TIBDatabase* defaultDatabase_ = nullptr;
    TTransactionAction defaultAction_ = TACommit;
    TAutoStopAction autoStopAction_ = saNone;
    int idleTimer_ = 0;
    TParamList params_;
    bool paramsDirty_ = true;
    std::vector<std::uint8_t> tpb_;
    TSlotList<TIBDatabase> databases_;
    TSlotList<TIBBase> objects_;
};

}  // namespace ibclient
