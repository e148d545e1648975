// TIBDatabase: connecting, disconnecting, the dialect query and the lists of transactions and
// bound objects.
#include "ibclient/IBDatabase.h"

#include <algorithm>
#include <array>
#include <climits>
#include <type_traits>

#include "ibclient/Binding.h"
#include "ibclient/Errors.h"
#include "ibclient/IBTransaction.h"
#include "ibclient/Schema.h"
#include "platform/CodePage.h"

namespace ibclient {

static_assert(std::is_same_v<DbHandle, isc_db_handle>, "DbHandle must be the API's isc_db_handle");

TIBDatabase::TIBDatabase()
    : params_([this] { RequireDisconnected(); }, [this] { paramsDirty_ = true; }) {
    RequireClientLibrary();
    schemaTransaction_ = std::make_unique<TIBTransaction>();
    schemaTransaction_->SetDefaultDatabase(this);
    schema_ = std::make_unique<TSchema>(*this);
}

TIBDatabase::~TIBDatabase() {
    idleTimer_ = 0;
    if (Connected()) {
        // Closed forced: client datasets are not told and DBSQLDialect is kept. Each step is
        // tried whatever the previous one reported.
        try {
            if (BeforeDisconnect) {
                BeforeDisconnect();
            }
        } catch (...) {
        }
        try {
            CloseConnection(true);
        } catch (...) {
            // The handle's owner detaches it quietly instead.
            handle_.Release();
        }
        try {
            if (AfterDisconnect) {
                AfterDisconnect();
            }
        } catch (...) {
        }
    }
    for (int i = 0; i < objects_.Count(); ++i) {
        if (TIBBase* object = objects_.At(i)) {
            try {
                object->DoDatabaseFree();
            } catch (...) {
                // The owner's hook failed; the object is detached below all the same.
            }
        }
    }
    for (int i = 0; i < objects_.Count(); ++i) {
        if (TIBBase* object = objects_.At(i)) {
            object->AttachDatabase(nullptr);
        }
    }
    objects_.Clear();
    clients_.clear();
    RemoveTransactions();
    schemaTransaction_.reset();
    schema_.reset();
}

void TIBDatabase::SetConnected(bool value) {
    if (value == Connected()) {
        return;
    }
    if (value) {
        Connect();
    } else {
        Disconnect();
    }
}

void TIBDatabase::SetDatabaseName(const std::string& name) {
    if (name == databaseName_) {
        return;
    }
    RequireDisconnected();
    databaseName_ = name;
    ClearSchemaCache();
}

void TIBDatabase::SetDefaultTransaction(TIBTransaction* transaction) {
    if (transaction != nullptr && transactions_.Find(transaction) < 0) {
        AddTransaction(transaction);
    }
    defaultTransaction_ = transaction;
}

void TIBDatabase::SetIdleTimer(int milliseconds) {
    if (milliseconds < 0) {
        RaiseClientError(ceTimeoutNegative);
    }
    idleTimer_ = milliseconds;
}

void TIBDatabase::SetSQLDialect(int value) {
    if (value < 1 || (Connected() && value > dbSQLDialect_)) {
        RaiseClientError(ceInvalidSQLDialect);
    }
    sqlDialect_ = value;
}

void TIBDatabase::RequireConnected() const {
    if (!Connected()) {
        RaiseClientError(ceDatabaseClosed);
    }
}

void TIBDatabase::RequireDisconnected() const {
    if (Connected()) {
        RaiseClientError(ceDatabaseOpen);
    }
}

void TIBDatabase::RequireDatabaseName() const {
    if (databaseName_.empty()) {
        RaiseClientError(ceDatabaseNameMissing);
    }
}

void TIBDatabase::ClearSchemaCache() {
    if (schema_) {
        schema_->ClearSchemaCache();
    }
}

void TIBDatabase::Login() {
    // Nobody can be asked in an unattended run: without a handler the parameters stand as
    // they are. A handler answers with the user name and password to connect with.
    if (!OnLogin) {
        return;
    }
    std::string userName = params_.Value("user_name");
    std::string password = hiddenPassword_.empty() ? params_.Value("password") : hiddenPassword_;
    if (!OnLogin(userName, password)) {
        RaiseClientError(ceOperationCancelled);
    }
    params_.SetValue("user_name", userName);
    // The password is kept out of Params and only added to the DPB.
    for (std::size_t i = params_.Count(); i-- > 0;) {
        const std::string& line = params_[i];
        const std::size_t eq = line.find('=');
        std::string name = line.substr(0, eq == std::string::npos ? 0 : eq);
        std::transform(name.begin(), name.end(), name.begin(), [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        });
        if (eq != std::string::npos && (name == "password" || name == "isc_dpb_password")) {
            params_.Delete(i);
        }
    }
    hiddenPassword_ = password;
    paramsDirty_ = true;
}

void TIBDatabase::Connect() {
    if (BeforeConnect) {
        BeforeConnect();
    }
    RequireDisconnected();
    RequireDatabaseName();
    if (loginPrompt_) {
        Login();
    } else if (!hiddenPassword_.empty()) {
        hiddenPassword_.clear();
        paramsDirty_ = true;
    }
    if (paramsDirty_) {
        std::vector<std::string> lines = params_.Lines();
        if (!hiddenPassword_.empty()) {
            lines.push_back("password=" + hiddenPassword_);
        }
        dpb_ = BuildDPB(lines);
        paramsDirty_ = false;
    }

    // The client takes file names in the system's 8-bit code set: on Windows the active code
    // page (this layer's texts are UTF-8), elsewhere the bytes as they are. A name that code
    // page cannot hold would name another file, so it is refused.
    bool lossless = true;
    const std::string clientName = platform::Utf8ToActiveCodePage(databaseName_, &lossless);
    if (!lossless) {
        throw EDatabaseError("The database name " + databaseName_ +
                             " holds characters that the system's code page cannot represent");
    }
    // A name too long for the API's 16-bit length is passed NUL-terminated (length 0).
    const auto nameLength =
        clientName.size() <= SHRT_MAX ? static_cast<short>(clientName.size()) : short{0};
    const StatusEntry result = CheckStatus(
        ClientApi().isc_attach_database(StatusVector(), nameLength, clientName.c_str(), Handle(),
                                        static_cast<short>(dpb_.size()),
                                        reinterpret_cast<const ISC_SCHAR*>(dpb_.data())),
        false);
    if (result > 0) {
        handle_.Forget();
        RaiseStatusError();
    }

    dbSQLDialect_ = QueryDatabaseDialect();
    if (dbSQLDialect_ < sqlDialect_) {
        sqlDialect_ = dbSQLDialect_;
        if (OnDialectDowngradeWarning) {
            OnDialectDowngradeWarning();
        }
    }
    NotifyClients(true);
    if (AfterConnect) {
        AfterConnect();
    }
}

void TIBDatabase::Disconnect() {
    if (BeforeDisconnect) {
        BeforeDisconnect();
    }
    NotifyClients(false);
    CloseConnection(false);
    dbSQLDialect_ = 1;
    if (AfterDisconnect) {
        AfterDisconnect();
    }
}

void TIBDatabase::CloseConnection(bool force) {
    RequireConnected();
    // Forced, every step is tried whatever the previous one reported.
    const auto step = [force](auto&& action) {
        if (!force) {
            action();
            return;
        }
        try {
            action();
        } catch (...) {
        }
    };
    for (int i = 0; i < transactions_.Count(); ++i) {
        if (TIBTransaction* transaction = transactions_.At(i)) {
            step([transaction] { transaction->ReleaseOnDisconnect(); });
        }
    }
    for (int i = 0; i < objects_.Count(); ++i) {
        if (TIBBase* object = objects_.At(i)) {
            step([object] { object->DoBeforeDatabaseDisconnect(); });
        }
    }
    const StatusEntry result =
        CheckStatus(ClientApi().isc_detach_database(StatusVector(), Handle()), false);
    if (result > 0 && !force) {
        RaiseStatusError();
    }
    // Detached, or (forced) given up with the attachment that refused the detach.
    handle_.Forget();
    for (int i = 0; i < objects_.Count(); ++i) {
        if (TIBBase* object = objects_.At(i)) {
            step([object] { object->DoAfterDatabaseDisconnect(); });
        }
    }
}

int TIBDatabase::QueryDatabaseDialect() {
    const std::array<ISC_SCHAR, 1> items{isc_info_db_sql_dialect};
    std::array<ISC_SCHAR, 512> buffer{};
    CheckStatus(ClientApi().isc_database_info(StatusVector(), Handle(),
                                              static_cast<short>(items.size()), items.data(),
                                              static_cast<short>(buffer.size()), buffer.data()),
                true);
    if (static_cast<unsigned char>(buffer[0]) != isc_info_db_sql_dialect) {
        return 1;
    }
    const auto length = static_cast<short>(ClientApi().isc_vax_integer(&buffer[1], 2));
    if (length < 1 || length > 4) {
        // Not a value the cluster can hold: count it as no answer.
        return 1;
    }
    return static_cast<int>(ClientApi().isc_vax_integer(&buffer[3], length));
}

int TIBDatabase::AddTransaction(TIBTransaction* transaction) {
    int index = transactions_.Find(transaction);
    if (index < 0) {
        index = transactions_.Add(transaction);
    }
    if (transaction->FindDatabase(this) < 0) {
        transaction->AddDatabase(this);
    }
    return index;
}

void TIBDatabase::RemoveTransaction(int index) {
    TIBTransaction* transaction = transactions_.At(index);
    if (transaction == nullptr) {
        return;
    }
    transactions_.Remove(index);
    if (transaction == defaultTransaction_) {
        defaultTransaction_ = nullptr;
    }
    transaction->RemoveDatabase(transaction->FindDatabase(this));
}

void TIBDatabase::RemoveTransactions() {
    for (int i = 0; i < transactions_.Count(); ++i) {
        RemoveTransaction(i);
    }
    transactions_.Clear();
}

TIBTransaction* TIBDatabase::FindDefaultTransaction() const noexcept {
    if (defaultTransaction_ != nullptr) {
        return defaultTransaction_;
    }
    for (int i = 0; i < transactions_.Count(); ++i) {
        TIBTransaction* transaction = transactions_.At(i);
        if (transaction != nullptr && transaction->DefaultDatabase() == this &&
            transaction != schemaTransaction_.get()) {
            return transaction;
        }
    }
    return nullptr;
}

void TIBDatabase::RegisterClient(TIBBase* dataSet) {
    if (std::find(clients_.begin(), clients_.end(), dataSet) == clients_.end()) {
        clients_.push_back(dataSet);
    }
}

void TIBDatabase::UnRegisterClient(TIBBase* dataSet) noexcept {
    std::erase(clients_, dataSet);
}

void TIBDatabase::NotifyClients(bool connected) {
    // A copy: a client may leave the connection while it is being told.
    const std::vector<TIBBase*> clients = clients_;
    for (TIBBase* client : clients) {
        client->DoConnectionChange(connected);
    }
}

}  // namespace ibclient
