// Whole-blob reads and writes through the client library's blob calls, and the read stream
// over one blob that the field values use.
#include "ibclient/BlobStream.h"

#include "ibclient/Binding.h"
#include "ibclient/Errors.h"
#include "ibclient/Handles.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace ibclient {

namespace {

constexpr std::size_t kMaxSegment = 0x4000;
constexpr StatusEntry kSegmentIncomplete = 335544366; // isc_segment: more of the segment follows

ISC_QUAD ToQuad(TQuad id) {
    ISC_QUAD quad{};
    quad.gds_quad_high = id.High;
    quad.gds_quad_low = id.Low;
    return quad;
}

// The total length from isc_blob_info's reply (clusters of item, 2-byte length, value).
std::size_t TotalLength(TBlobHandle& blob) {
    const auto& api = ClientApi();
    const std::array<char, 4> items{isc_info_blob_num_segments, isc_info_blob_max_segment,
                                    isc_info_blob_total_length, isc_info_blob_type};
    std::array<char, 100> reply{};
    CheckStatus(api.isc_blob_info(StatusVector(), blob.Address(), static_cast<short>(items.size()),
                                  items.data(), static_cast<short>(reply.size()), reply.data()),
                true);
    std::size_t total = 0;
    for (std::size_t p = 0; p + 3 <= reply.size() && reply[p] != isc_info_end;) {
        const auto length = static_cast<std::size_t>(api.isc_vax_integer(&reply[p + 1], 2));
        if (length > 4 || p + 3 + length > reply.size())
            break;
        if (reply[p] == isc_info_blob_total_length) {
            total = static_cast<std::uint32_t>(
                api.isc_vax_integer(&reply[p + 3], static_cast<short>(length)));
        }
        p += 3 + length;
    }
    return total;
}

// Closes the blob in order: a refused close raises, and the handle is given up either way (a
// second close of the same handle would be refused too).
void CloseBlob(TBlobHandle& blob) {
    const StatusEntry result = ClientApi().isc_close_blob(StatusVector(), blob.Address());
    blob.Forget();
    CheckStatus(result, true);
}

} // namespace

std::string ReadBlob(DbHandle* database, TrHandle* transaction, TQuad id) {
    if (id == TQuad{})
        return {};
    const auto& api = ClientApi();
    ISC_QUAD quad = ToQuad(id);
    // Owned from the open on: a server error or a failing allocation on the way to the close
    // below closes it all the same.
    TBlobHandle blob;
    CheckStatus(api.isc_open_blob2(StatusVector(), database, transaction, blob.Address(), &quad, 0,
                                   nullptr),
                true);
    std::string content(TotalLength(blob), '\0');
    std::size_t done = 0;
    while (done < content.size()) {
        const auto ask = static_cast<unsigned short>(std::min(kMaxSegment, content.size() - done));
        unsigned short got = 0;
        const StatusEntry result =
            api.isc_get_segment(StatusVector(), blob.Address(), &got, ask, &content[done]);
        if (result != 0 && result != kSegmentIncomplete)
            RaiseStatusError();
        done += std::min<std::size_t>(got, ask);
    }
    CloseBlob(blob);
    return content;
}

TQuad CreateBlob(DbHandle* database, TrHandle* transaction, std::string_view content) {
    const auto& api = ClientApi();
    ISC_QUAD quad{};
    TBlobHandle blob;
    CheckStatus(api.isc_create_blob2(StatusVector(), database, transaction, blob.Address(), &quad,
                                     0, nullptr),
                true);
    for (std::size_t done = 0; done < content.size();) {
        const auto length =
            static_cast<unsigned short>(std::min(kMaxSegment, content.size() - done));
        CheckStatus(
            api.isc_put_segment(StatusVector(), blob.Address(), length, content.data() + done),
            true);
        done += length;
    }
    CloseBlob(blob);
    return TQuad{quad.gds_quad_high, quad.gds_quad_low};
}

// ---- TIBBlobStream ----

TIBBlobStream::TIBBlobStream() : base_(this, TIBOwnerKind::Statement) {}

TIBBlobStream::~TIBBlobStream() = default;

void TIBBlobStream::SetBlobID(TQuad id) {
    blobID_ = id;
    loaded_ = false;
    content_.clear();
    position_ = 0;
}

void TIBBlobStream::Load() {
    if (loaded_)
        return;
    content_ = blobID_ == TQuad{}
                   ? std::string()
                   : ReadBlob(base_.DatabaseHandle(), base_.TransactionHandle(), blobID_);
    loaded_ = true;
}

const std::string& TIBBlobStream::Content() {
    Load();
    return content_;
}

std::int64_t TIBBlobStream::Size() {
    Load();
    return static_cast<std::int64_t>(content_.size());
}

std::int64_t TIBBlobStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    const std::int64_t size = Size();
    std::int64_t base = 0;
    if (origin == TSeekOrigin::Current)
        base = position_;
    if (origin == TSeekOrigin::End)
        base = size;
    position_ = std::clamp<std::int64_t>(base + offset, 0, size);
    return position_;
}

std::size_t TIBBlobStream::Read(void* buffer, std::size_t count) {
    Load();
    const auto position = static_cast<std::size_t>(position_);
    const std::size_t n =
        position < content_.size() ? std::min(count, content_.size() - position) : 0;
    if (n > 0)
        std::memcpy(buffer, content_.data() + position, n);
    position_ += static_cast<std::int64_t>(n);
    return n;
}

} // namespace ibclient
