// TIBBase: attaching statements and datasets to a database and a transaction, and passing the
// notifications of both on to the owner's hooks.
#include "ibclient/IBBase.h"

#include "ibclient/Errors.h"
#include "ibclient/IBDatabase.h"
#include "ibclient/IBTransaction.h"

namespace ibclient {

TIBBase::TIBBase(void* owner, TIBOwnerKind ownerKind) : owner_(owner), ownerKind_(ownerKind) {}

TIBBase::~TIBBase() {
    AttachDatabase(nullptr);
    AttachTransaction(nullptr);
}

void TIBBase::DoBeforeDatabaseDisconnect() {
    if (BeforeDatabaseDisconnect) {
        BeforeDatabaseDisconnect();
    }
}

void TIBBase::DoAfterDatabaseDisconnect() {
    if (AfterDatabaseDisconnect) {
        AfterDatabaseDisconnect();
    }
}

void TIBBase::DoDatabaseFree() {
    if (DatabaseFree) {
        DatabaseFree();
    }
    AttachDatabase(nullptr);
    AttachTransaction(nullptr);
}

void TIBBase::DoBeforeTransactionEnd() {
    if (BeforeTransactionEnd) {
        BeforeTransactionEnd();
    }
}

void TIBBase::DoAfterTransactionEnd() {
    if (AfterTransactionEnd) {
        AfterTransactionEnd();
    }
}

void TIBBase::DoTransactionFree() {
    if (TransactionFree) {
        TransactionFree();
    }
    transaction_ = nullptr;
    transactionIndex_ = -1;
}

void TIBBase::DoConnectionChange(bool connected) {
    if (ConnectionChange) {
        ConnectionChange(connected);
    }
}

DbHandle* TIBBase::DatabaseHandle() {
    RequireDatabase();
    return database_->Handle();
}

TrHandle* TIBBase::TransactionHandle() {
    RequireTransaction();
    return transaction_->Handle();
}

void TIBBase::AttachDatabase(TIBDatabase* database) {
    if (database_ != nullptr) {
        database_->RemoveObject(databaseIndex_);
        if (ownerKind_ == TIBOwnerKind::DataSet) {
            database_->UnRegisterClient(this);
        }
    }
    database_ = database;
    databaseIndex_ = -1;
    if (database == nullptr) {
        return;
    }
    databaseIndex_ = database->AddObject(this);
    if (ownerKind_ == TIBOwnerKind::DataSet) {
        database->RegisterClient(this);
    }
    if (transaction_ == nullptr) {
        AttachTransaction(database->FindDefaultTransaction());
    }
}

void TIBBase::AttachTransaction(TIBTransaction* transaction) {
    if (transaction_ != nullptr) {
        transaction_->RemoveObject(transactionIndex_);
    }
    transaction_ = transaction;
    transactionIndex_ = -1;
    if (transaction == nullptr) {
        return;
    }
    transactionIndex_ = transaction->AddObject(this);
    if (database_ == nullptr) {
        AttachDatabase(transaction->FindDefaultDatabase());
    }
}

void TIBBase::RequireDatabase() const {
    if (database_ == nullptr) {
        RaiseClientError(ceDatabaseNotAssigned);
    }
    database_->RequireConnected();
}

void TIBBase::RequireTransaction() const {
    if (transaction_ == nullptr) {
        RaiseClientError(ceTransactionNotAssigned);
    }
    transaction_->RequireActive();
}

}  // namespace ibclient
