// TIBTransaction: starting, committing and rolling back over the listed databases, and the
// links between transactions, databases and bound objects.
#include "ibclient/IBTransaction.h"

#include <type_traits>

#include "ibclient/Binding.h"
#include "ibclient/Errors.h"
#include "ibclient/IBDatabase.h"

namespace ibclient {

static_assert(std::is_same_v<TrHandle, isc_tr_handle>, "TrHandle must be the API's isc_tr_handle");

namespace {

// One start entry of isc_start_multiple, in the client library's native layout: the address of
// a database handle, the TPB length and the TPB's address.
struct TStartEntry {
    isc_db_handle* database;
    int tpbLength;
    const unsigned char* tpb;
};

}  // namespace

TIBTransaction::TIBTransaction()
    : params_([this] { RequireInactive(); }, [this] { paramsDirty_ = true; }) {
    RequireClientLibrary();
}

TIBTransaction::~TIBTransaction() {
    if (Active()) {
        try {
            FinishTransaction(DisconnectAction(), true);
        } catch (...) {
            // A forced finish ends the transaction whatever its bound objects report.
        }
    }
    for (int i = 0; i < objects_.Count(); ++i) {
        if (TIBBase* object = objects_.At(i)) {
            try {
                object->DoTransactionFree();
            } catch (...) {
                // The owner's hook failed; the object forgets this transaction all the same.
            }
        }
    }
    objects_.Clear();
    RemoveDatabases();
}

void TIBTransaction::SetActive(bool value) {
    if (value && !Active()) {
        Start();
    } else if (!value && Active()) {
        Rollback();
    }
}

void TIBTransaction::Start() {
    RequireInactive();
    RequireDatabases();
    for (int i = 0; i < databases_.Count(); ++i) {
        if (const TIBDatabase* database = databases_.At(i);
            database != nullptr && !database->Connected()) {
            RaiseClientError(ceDatabaseClosed);
        }
    }
    if (paramsDirty_) {
        tpb_ = BuildTPB(params_.Lines());
        paramsDirty_ = false;
    }
    std::vector<TStartEntry> entries;
    for (int i = 0; i < databases_.Count(); ++i) {
        if (TIBDatabase* database = databases_.At(i)) {
            entries.push_back({database->Handle(), static_cast<int>(tpb_.size()),
                               tpb_.empty() ? nullptr : tpb_.data()});
        }
    }
    const StatusEntry result = CheckStatus(
        ClientApi().isc_start_multiple(StatusVector(), Handle(), static_cast<short>(entries.size()),
                                       entries.data()),
        false);
    if (result > 0) {
        handle_.Forget();
        RaiseStatusError();
    }
}

void TIBTransaction::Commit() {
    FinishTransaction(TACommit, false);
}

void TIBTransaction::Rollback() {
    FinishTransaction(TARollback, false);
}

void TIBTransaction::CommitRetaining() {
    FinishTransaction(TACommitRetaining, false);
}

void TIBTransaction::RollbackRetaining() {
    FinishTransaction(TARollbackRetaining, false);
}

void TIBTransaction::FinishTransaction(TTransactionAction action, bool force) {
    RequireActive();
    if (action == TACommitRetaining) {
        if (CheckStatus(ClientApi().isc_commit_retaining(StatusVector(), Handle()), false) > 0) {
            RaiseStatusError(TClientCall::Commit);
        }
        return;
    }
    if (action == TARollbackRetaining) {
        CheckStatus(ClientApi().isc_rollback_retaining(StatusVector(), Handle()), true);
        return;
    }
    for (int i = 0; i < objects_.Count(); ++i) {
        if (TIBBase* object = objects_.At(i)) {
            if (!force) {
                object->DoBeforeTransactionEnd();
                continue;
            }
            // A forced end must end the transaction whatever a bound object reports: a
            // handle kept here would belong to an attachment that is going away, and the next
            // Start would find the transaction still active.
            try {
                object->DoBeforeTransactionEnd();
            } catch (...) {
            }
        }
    }
    StatusEntry result = 0;
    if (Active()) {
        result = CheckStatus(action == TACommit
                                 ? ClientApi().isc_commit_transaction(StatusVector(), Handle())
                                 : ClientApi().isc_rollback_transaction(StatusVector(), Handle()),
                             false);
    }
    if (force) {
        if (result > 0) {
            CheckStatus(ClientApi().isc_rollback_transaction(StatusVector(), Handle()), false);
        }
        // Ended, or given up after the one rollback that a refused end gets.
        handle_.Forget();
    } else if (result > 0) {
        // A commit that fails with the connection leaves its outcome unknown: raised as a
        // commit in doubt, not as a failed one.
        RaiseStatusError(action == TACommit ? TClientCall::Commit : TClientCall::Other);
    }
    for (int i = 0; i < objects_.Count(); ++i) {
        if (TIBBase* object = objects_.At(i)) {
            if (!force) {
                object->DoAfterTransactionEnd();
                continue;
            }
            try {
                object->DoAfterTransactionEnd();
            } catch (...) {
            }
        }
    }
}

TTransactionAction TIBTransaction::DisconnectAction() const noexcept {
    return (defaultAction_ == TACommit || defaultAction_ == TACommitRetaining) ? TACommit
                                                                               : TARollback;
}

void TIBTransaction::ReleaseOnDisconnect() {
    if (Active()) {
        FinishTransaction(DisconnectAction(), true);
    }
}

void TIBTransaction::SetDefaultDatabase(TIBDatabase* database) {
    if (database == defaultDatabase_) {
        return;
    }
    if (defaultDatabase_ != nullptr) {
        // Leaving the old default's list also removes it from ours (and as the default).
        defaultDatabase_->RemoveTransaction(defaultDatabase_->FindTransaction(this));
    }
    if (database != nullptr) {
        if (database->FindTransaction(this) < 0) {
            database->AddTransaction(this);
        }
        if (databases_.Find(database) < 0) {
            AddDatabase(database);
        }
        for (int i = 0; i < objects_.Count(); ++i) {
            if (TIBBase* object = objects_.At(i);
                object != nullptr && object->Database() == nullptr) {
                object->AttachDatabase(database);
            }
        }
    }
    defaultDatabase_ = database;
}

void TIBTransaction::SetDefaultAction(TTransactionAction action) {
    if (action == TARollbackRetaining && ClientLibraryVersion() < 6) {
        RaiseClientError(ceIB60Feature, {"isc_rollback_retaining"});
    }
    defaultAction_ = action;
}

void TIBTransaction::SetIdleTimer(int milliseconds) {
    if (milliseconds < 0) {
        RaiseClientError(ceTimeoutNegative);
    }
    idleTimer_ = milliseconds;
}

void TIBTransaction::RequireActive() const {
    if (!Active()) {
        RaiseClientError(ceNotInTransaction);
    }
}

void TIBTransaction::RequireInactive() const {
    if (Active()) {
        RaiseClientError(ceInTransaction);
    }
}

void TIBTransaction::RequireDatabases() const {
    if (databases_.FilledCount() == 0) {
        RaiseClientError(ceNoDatabasesInTransaction);
    }
}

int TIBTransaction::AddDatabase(TIBDatabase* database) {
    int index = databases_.Find(database);
    if (index < 0) {
        index = databases_.Add(database);
    }
    if (database->FindTransaction(this) < 0) {
        database->AddTransaction(this);
    }
    return index;
}

void TIBTransaction::RemoveDatabase(int index) {
    TIBDatabase* database = databases_.At(index);
    if (database == nullptr) {
        return;
    }
    databases_.Remove(index);
    if (database == defaultDatabase_) {
        defaultDatabase_ = nullptr;
    }
    database->RemoveTransaction(database->FindTransaction(this));
}

void TIBTransaction::RemoveDatabases() {
    for (int i = 0; i < databases_.Count(); ++i) {
        RemoveDatabase(i);
    }
    databases_.Clear();
}

TIBDatabase* TIBTransaction::FindDefaultDatabase() const noexcept {
    if (defaultDatabase_ != nullptr) {
        return defaultDatabase_;
    }
    for (int i = 0; i < databases_.Count(); ++i) {
        TIBDatabase* database = databases_.At(i);
        if (database != nullptr && database->DefaultTransaction() == this) {
            return database;
        }
    }
    return nullptr;
}

}  // namespace ibclient
