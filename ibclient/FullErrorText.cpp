// A statement run again through Firebird's object interface for the whole text of its error.
#include "ibclient/FullErrorText.h"

#include "ibclient/Binding.h"
#include "ibclient/Errors.h"
#include "ibclient/IBDatabase.h"

#include <firebird/Interface.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace ibclient {

namespace {

// Each interface object is given back exactly once, on every way out.
struct StatusDispose {
    void operator()(Firebird::IStatus* status) const noexcept { status->dispose(); }
};
struct Release {
    void operator()(Firebird::IReferenceCounted* object) const noexcept { object->release(); }
};

// An attachment that is detached (or, when that fails, released) at the end.
class Attachment {
public:
    Attachment(Firebird::IMaster* master, Firebird::IAttachment* attachment) noexcept
        : master_(master), attachment_(attachment) {}
    ~Attachment() {
        if (attachment_ == nullptr) {
            return;
        }
        const std::unique_ptr<Firebird::IStatus, StatusDispose> status(master_->getStatus());
        Firebird::CheckStatusWrapper wrapper(status.get());
        attachment_->detach(&wrapper);
        if ((wrapper.getState() & Firebird::IStatus::STATE_ERRORS) != 0) {
            attachment_->release();  // a successful detach has released it
        }
    }
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;
    Firebird::IAttachment* operator->() const noexcept { return attachment_; }
    Firebird::IAttachment* get() const noexcept { return attachment_; }

private:
    Firebird::IMaster* master_;
    Firebird::IAttachment* attachment_;
};

}  // namespace

std::optional<std::string> FullErrorText(const TIBDatabase& database, const std::string& text,
                                         unsigned short dialect) noexcept {
    try {
        const ClientEntryPoints& api = ClientApi();
        if (api.fb_get_master_interface == nullptr) {
            return std::nullopt;
        }
        auto* master = static_cast<Firebird::IMaster*>(api.fb_get_master_interface());
        const std::unique_ptr<Firebird::IStatus, StatusDispose> status(master->getStatus());
        Firebird::CheckStatusWrapper wrapper(status.get());
        const auto failed = [&wrapper] {
            return (wrapper.getState() & Firebird::IStatus::STATE_ERRORS) != 0;
        };
        const std::unique_ptr<Firebird::IProvider, Release> provider(master->getDispatcher());
        const std::vector<std::uint8_t>& dpb = database.DPB();
        const Attachment attachment(
            master, provider->attachDatabase(&wrapper, database.DatabaseName().c_str(),
                                             static_cast<unsigned>(dpb.size()), dpb.data()));
        if (failed() || attachment.get() == nullptr) {
            return std::nullopt;
        }
        // Snapshot, read-write, no waiting: a lock held elsewhere fails the run at once.
        constexpr std::array<unsigned char, 4> kTpb = {isc_tpb_version3, isc_tpb_concurrency,
                                                       isc_tpb_write, isc_tpb_nowait};
        Firebird::ITransaction* transaction =
            attachment->startTransaction(&wrapper, kTpb.size(), kTpb.data());
        if (failed() || transaction == nullptr) {
            return std::nullopt;
        }
        attachment->execute(&wrapper, transaction, static_cast<unsigned>(text.size()), text.c_str(),
                            dialect, nullptr, nullptr, nullptr, nullptr);
        std::optional<std::string> message;
        if (failed()) {
            message = StatusTexts(wrapper.getErrors());
            if (!message->empty() && message->back() == '.') {
                message->pop_back();
            }
        }
        wrapper.clearException();
        transaction->rollback(&wrapper);
        if (failed()) {
            transaction->release();  // a successful rollback has released it
        }
        return message;
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace ibclient
