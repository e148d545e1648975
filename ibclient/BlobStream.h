// Whole-blob access: reading a blob's content into memory in segments and writing a new blob,
// and TIBBlobStream, a read stream over one blob bound to a database and transaction that
// loads the content on first use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ibclient/IBBase.h"
#include "ibclient/IBXSQLDA.h"

namespace ibclient {

// The whole content of blob `id` (empty for two zero words, without a server call): opened,
// sized with isc_blob_info, read in segments of at most 16384 bytes, closed. Server errors
// raise; a blob opened before the failure is closed again.
std::string ReadBlob(DbHandle* database, TrHandle* transaction, TQuad id);

// Creates a blob holding `content` (written in segments of at most 16384 bytes), closes it
// and returns its identifier. Server errors raise; a created blob is closed again on failure.
TQuad CreateBlob(DbHandle* database, TrHandle* transaction, std::string_view content);

enum class TSeekOrigin { Beginning, Current, End };

class TIBBlobStream {
  public:
    // Unbound; bind with SetDatabase/SetTransaction before the content is first needed.
    TIBBlobStream();
    ~TIBBlobStream();
    TIBBlobStream(const TIBBlobStream&) = delete;
    TIBBlobStream& operator=(const TIBBlobStream&) = delete;

    TIBBase& Base() noexcept { return base_; }
    TIBDatabase* Database() const noexcept { return base_.Database(); }
    void SetDatabase(TIBDatabase* database) { base_.AttachDatabase(database); }
    TIBTransaction* Transaction() const noexcept { return base_.Transaction(); }
    void SetTransaction(TIBTransaction* transaction) { base_.AttachTransaction(transaction); }

    TQuad BlobID() const noexcept { return blobID_; }
    // Names another blob; its content is loaded on next use.
    void SetBlobID(TQuad id);

    // The whole content (loaded on first use through the bound database and transaction).
    const std::string& Content();
    std::int64_t Size();
    std::int64_t Position() const noexcept { return position_; }
    // Moves the position (clamped to 0..Size) and returns it.
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin);
    // Copies at most `count` bytes from the position on and advances it; returns the count.
    std::size_t Read(void* buffer, std::size_t count);

  private:
    void Load();

    TIBBase base_;
    TQuad blobID_;
    bool loaded_ = false;
    std::string content_;
    std::int64_t position_ = 0;
};

} // namespace ibclient
