// Parameter lines ("name=value") of connections and transactions, and their encoding into the
// byte-coded database parameter buffer (DPB) and transaction parameter buffer (TPB) of the
// InterBase API.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ibclient {

// The longest buffer whose length fits the API's 16-bit signed count.
constexpr std::size_t kMaxParamBufferLength = 32767;

// A list of text lines whose every edit is announced to its owner: `beforeEdit` runs first and
// may refuse the edit by raising (the list is then unchanged), `afterEdit` runs once the list
// has changed (the owner marks its parameter buffer for rebuilding).
class TParamList {
public:
    TParamList(std::function<void()> beforeEdit, std::function<void()> afterEdit);
    TParamList(const TParamList&) = delete;
    TParamList& operator=(const TParamList&) = delete;

    const std::vector<std::string>& Lines() const noexcept { return lines_; }
    std::size_t Count() const noexcept { return lines_.size(); }
    const std::string& operator[](std::size_t index) const { return lines_.at(index); }

    // Replaces all lines (an edit even when the new lines equal the old ones).
    void Assign(std::vector<std::string> lines);
    // Replaces all lines by the pieces of `text` split at every comma ("a=b,c=d" gives the two
    // lines "a=b" and "c=d"; an empty text gives no line).
    void SetCommaText(std::string_view text);
    void Add(std::string line);
    void Insert(std::size_t index, std::string line);
    void Set(std::size_t index, std::string line);
    void Delete(std::size_t index);
    void Clear();

    // The value of the first line whose name part equals `name` (ASCII case-insensitive);
    // empty when there is none.
    std::string Value(std::string_view name) const;
    // Sets the value of the first line named `name`, or adds "name=value" when there is none.
    void SetValue(std::string_view name, std::string_view value);

private:
    template <class Edit>
    void Edit_(Edit&& edit);

    std::vector<std::string> lines_;
    std::function<void()> beforeEdit_;
    std::function<void()> afterEdit_;
};

// Encodes connection parameter lines into a DPB (version byte 1 first). Lines without "=" or
// with a blank name are skipped; names may carry the prefix "isc_dpb_" and any letter case.
// Raises client error 114 for an unknown name, 11 for a known but unsupported one, the
// runtime's conversion error for a non-integer numeric value, and the ParamBufferError
// numbers for values and buffers that the encoding cannot carry.
std::vector<std::uint8_t> BuildDPB(const std::vector<std::string>& params);

// Encodes transaction parameter lines into a TPB (version byte 3 first; empty for no lines).
// Blank lines are skipped; names may carry the prefix "isc_tpb_" and any letter case. Raises
// client error 115 for an unknown name, 13 for an unsupported one, and the ParamBufferError
// numbers for a lock_read/lock_write line without a table name or with an over-long one.
// lock_timeout=<seconds> is encoded as a 4-byte little-endian integer (the runtime's
// conversion error for a value that is not one).
std::vector<std::uint8_t> BuildTPB(const std::vector<std::string>& params);

// The runtime's text-to-integer conversion: optional leading blanks, an optional sign, then
// decimal digits or "$"/"0x" and hexadecimal digits, within 32 bits. Raises EConvertError
// "'%s' is not a valid integer value" otherwise.
std::int32_t StrToInt(std::string_view text);

}  // namespace ibclient
