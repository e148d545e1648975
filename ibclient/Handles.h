// Owners of the client library's handles. Every attachment, transaction, statement and blob
// handle lives in one owner from the call that fills it in: the component that ends it in
// order (detach, commit or rollback, drop, close) says so with Forget, and on every other way
// out (an exception between opening and closing, a component destroyed while a handle is
// held) the owner releases it once, quietly.
#pragma once

#include <cstdint>
#include <utility>

namespace ibclient {

// A handle of the client library: 32 bits, 0 meaning none (FB_API_HANDLE on 64-bit Linux).
using HandleValue = std::uint32_t;

// The quiet releases of the owners below. Each calls the client library once with a status
// vector of its own, so that the calling thread's vector, which may hold the error being
// raised, stays as it is; a failure is ignored, since nothing more can be done about it.
void DetachQuietly(HandleValue* handle) noexcept;
void RollbackQuietly(HandleValue* handle) noexcept;
void DropStatementQuietly(HandleValue* handle) noexcept;
void CloseBlobQuietly(HandleValue* handle) noexcept;

// One handle and the call that releases it. Move-only; 0 when it holds none.
template <void (*ReleaseQuietly)(HandleValue*) noexcept> class THandle {
public:
    THandle() noexcept = default;
    ~THandle() { Release(); }
    THandle(THandle&& other) noexcept : value_(std::exchange(other.value_, 0)) {}
    THandle& operator=(THandle&& other) noexcept {
        if (this != &other) {
            Release();
            value_ = std::exchange(other.value_, 0);
        }
        return *this;
    }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;

    // The address that the client library fills in when it opens the handle and clears when
    // it ends it.
    HandleValue* Address() noexcept { return &value_; }
    HandleValue Get() const noexcept { return value_; }
    bool Held() const noexcept { return value_ != 0; }

    // Releases a held handle quietly; afterwards none is held.
    void Release() noexcept {
        if (value_ != 0) {
            ReleaseQuietly(&value_);
            value_ = 0;
        }
    }

    // Gives the handle up without a call: it has been ended (successfully or not) by the
    // component's own call, and a second release would only repeat that.
    void Forget() noexcept { value_ = 0; }

private:
    HandleValue value_ = 0;
};

using TAttachmentHandle = THandle<&DetachQuietly>;
using TTransactionHandle = THandle<&RollbackQuietly>;
using TStatementHandle = THandle<&DropStatementQuietly>;
using TBlobHandle = THandle<&CloseBlobQuietly>;

}  // namespace ibclient
