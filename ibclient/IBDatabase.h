// TIBDatabase: one attachment to one InterBase database. It encodes its parameter lines into
// the DPB, attaches and detaches, learns the database's SQL dialect, and keeps the lists of
// the transactions and bound statements/datasets that work through it, so that a disconnect
// can first end their work.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ibclient/Handles.h"
#include "ibclient/IBBase.h"
#include "ibclient/ParamList.h"
#include "ibclient/SlotList.h"

namespace ibclient {

class TIBTransaction;
class TSchema;

class TIBDatabase {
public:
    // Loads the client library (client error 1 when it is missing) and creates the owned
    // schema transaction, which is therefore the first entry of the transaction list.
    TIBDatabase();
    // Closes an open connection forced (errors swallowed), tells every bound object that the
    // database goes away, and leaves every transaction.
    ~TIBDatabase();
    TIBDatabase(const TIBDatabase&) = delete;
    TIBDatabase& operator=(const TIBDatabase&) = delete;

    // True while a database handle is held. Writing connects or disconnects; writing the value
    // it already has does nothing.
    bool Connected() const noexcept { return handle_.Held(); }
    void SetConnected(bool value);
    void Open() { SetConnected(true); }
    void Close() { SetConnected(false); }

    const std::string& DatabaseName() const noexcept { return databaseName_; }
    // Same text: nothing. Otherwise RequireDisconnected (16), store, ClearSchemaCache.
    void SetDatabaseName(const std::string& name);

    // Connection parameter lines; every edit requires the database to be disconnected (16)
    // and marks the DPB for rebuilding at the next connect.
    TParamList& Params() noexcept { return params_; }
    const TParamList& Params() const noexcept { return params_; }

    bool LoginPrompt() const noexcept { return loginPrompt_; }
    void SetLoginPrompt(bool value) noexcept { loginPrompt_ = value; }

    TIBTransaction* DefaultTransaction() const noexcept { return defaultTransaction_; }
    // Also lists the transaction with this database when it is not listed yet.
    void SetDefaultTransaction(TIBTransaction* transaction);

    // Idle time in milliseconds after which the connection would close; 0 = off. The idle
    // timer is never enabled in this system; a negative value raises client error 20.
    int IdleTimer() const noexcept { return idleTimer_; }
    void SetIdleTimer(int milliseconds);

    // Dialect that statements are prepared in (default 3). Client error 87 for a value below 1
    // or, while connected, above DBSQLDialect.
    int SQLDialect() const noexcept { return sqlDialect_; }
    void SetSQLDialect(int value);
    // Dialect of the attached database: 3 at creation, 1 after every disconnect.
    int DBSQLDialect() const noexcept { return dbSQLDialect_; }

    // Events; none is set by the runner.
    std::function<void()> BeforeConnect;
    std::function<void()> AfterConnect;
    std::function<void()> BeforeDisconnect;
    std::function<void()> AfterDisconnect;
    // Asked for user name and password when LoginPrompt is true; false refuses the connect
    // (client error 10). Without a handler the parameters are used as they are.
    std::function<bool(std::string& userName, std::string& password)> OnLogin;
    std::function<void()> OnIdleTimer;
    std::function<void()> OnDialectDowngradeWarning;

    // Client error 15 when not connected / 16 when connected / 17 without DatabaseName.
    void RequireConnected() const;
    void RequireDisconnected() const;
    void RequireDatabaseName() const;

    // Address of the database handle (the API fills and reads it in place).
    DbHandle* Handle() noexcept { return handle_.Address(); }

    // Ends every transaction by its DefaultAction (forced), tells every bound object, then
    // detaches. Not forced: the first error propagates and a refused detach leaves the database
    // connected. Forced: errors are swallowed and the handle is dropped. Client error 15 when
    // not connected.
    void CloseConnection(bool force);

    // The SQL dialect the attached database reports (1 when it reports none).
    int QueryDatabaseDialect();

    // The transaction the schema cache reads in; owned by this database.
    TIBTransaction* SchemaTransaction() const noexcept { return schemaTransaction_.get(); }

    // The cache of computed and defaulted columns, owned by this database.
    TSchema& Schema() noexcept { return *schema_; }
    // Drops the cached column facts.
    void ClearSchemaCache();

    // The DPB of the last successful build and whether Params changed since.
    const std::vector<std::uint8_t>& DPB() const noexcept { return dpb_; }
    bool ParamsDirty() const noexcept { return paramsDirty_; }

    // Transaction list (slots of removed entries stay empty until reused).
    int TransactionCount() const noexcept { return transactions_.Count(); }
    TIBTransaction* Transactions(int index) const noexcept { return transactions_.At(index); }
    int FindTransaction(const TIBTransaction* transaction) const noexcept {
        return transactions_.Find(transaction);
    }
    // Lists `transaction` here and this database in the transaction (each only once); returns
    // its slot.
    int AddTransaction(TIBTransaction* transaction);
    // Empties slot `index`; the transaction forgets this database too (also as its default).
    void RemoveTransaction(int index);
    void RemoveTransactions();
    // DefaultTransaction if set, else the first listed transaction whose DefaultDatabase is
    // this database, other than SchemaTransaction; null if none.
    TIBTransaction* FindDefaultTransaction() const noexcept;

    // Object list of bound statements and datasets (maintained by TIBBase).
    int ObjectCount() const noexcept { return objects_.Count(); }
    TIBBase* Objects(int index) const noexcept { return objects_.At(index); }
    int AddObject(TIBBase* object) { return objects_.Add(object); }
    void RemoveObject(int index) noexcept { objects_.Remove(index); }

    // Client datasets registered with the connection (through their binding); they hear of
    // connects and disconnects.
    void RegisterClient(TIBBase* dataSet);
    void UnRegisterClient(TIBBase* dataSet) noexcept;

private:
    void Connect();
    void Disconnect();
    void Login();
    void NotifyClients(bool connected);

    TAttachmentHandle handle_;
    std::string databaseName_;
    TParamList params_;
    bool paramsDirty_ = true;
    std::vector<std::uint8_t> dpb_;
    std::string hiddenPassword_;  // held only on the login road (LoginPrompt true)
    bool loginPrompt_ = true;
    TIBTransaction* defaultTransaction_ = nullptr;
    int idleTimer_ = 0;
    int sqlDialect_ = 3;
    int dbSQLDialect_ = 3;
    TSlotList<TIBTransaction> transactions_;
    TSlotList<TIBBase> objects_;
    std::vector<TIBBase*> clients_;
    std::unique_ptr<TIBTransaction> schemaTransaction_;
    std::unique_ptr<TSchema> schema_;  // created in the constructor, released last
};

}  // namespace ibclient
