// Connection and transaction parameter lines encoded into the DPB and the TPB.
//
// Input: parameter lines separated by LF; the first byte picks DPB or TPB (or a list built
// with SetCommaText). Properties: the encoders raise only the layer's own errors; a buffer
// that is built starts with its version byte, is at most 32767 bytes, and walks cleanly item
// by item to its very end (a length byte never points past the buffer), with one item per
// line that counts and the text values copied byte for byte.
#include "fuzz/FuzzCheck.h"
#include "ibclient/Errors.h"
#include "ibclient/ParamList.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t lf = text.find('\n', start);
        lines.emplace_back(text.substr(start, lf == std::string_view::npos ? text.npos : lf - start));
        if (lf == std::string_view::npos) {
            break;
        }
        start = lf + 1;
    }
    return lines;
}

bool IsBlankText(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) > 32) {
            return false;
        }
    }
    return true;
}

std::string Hex(const std::vector<std::uint8_t>& buffer) {
    static const char* digits = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < buffer.size() && i < 200; ++i) {
        text += digits[buffer[i] >> 4];
        text += digits[buffer[i] & 15];
        text += ' ';
    }
    return text;
}

// DPB items whose value is the line's text as written.
const std::set<int> kDPBTextItems{18, 19, 20, 28, 29, 30, 47, 48, 60};

void CheckDPB(const std::vector<std::string>& lines) {
    std::vector<std::uint8_t> dpb;
    try {
        dpb = ibclient::BuildDPB(lines);
    } catch (const ibclient::EIBClientError&) {
        return;
    } catch (const ibclient::EConvertError&) {
        return;
    }
    FUZZ_CHECK(!dpb.empty() && dpb[0] == 1, "DPB without version byte: " + Hex(dpb));
    FUZZ_CHECK(dpb.size() <= ibclient::kMaxParamBufferLength, "DPB too long");
    std::vector<const std::string*> counted;
    for (const std::string& line : lines) {
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos && !IsBlankText(std::string_view(line).substr(0, eq))) {
            counted.push_back(&line);
        }
    }
    std::size_t pos = 1;
    std::size_t item = 0;
    while (pos < dpb.size()) {
        FUZZ_CHECK(pos + 1 < dpb.size(), "DPB item without length byte: " + Hex(dpb));
        const int code = dpb[pos];
        const std::size_t length = dpb[pos + 1];
        FUZZ_CHECK(code >= 1 && code <= 67, "unknown DPB item " + std::to_string(code));
        FUZZ_CHECK(pos + 2 + length <= dpb.size(), "DPB item runs past the end: " + Hex(dpb));
        FUZZ_CHECK(item < counted.size(), "more DPB items than lines: " + Hex(dpb));
        if (kDPBTextItems.count(code) != 0) {
            const std::string& line = *counted[item];
            const std::string value = line.substr(line.find('=') + 1);
            FUZZ_CHECK(std::string(dpb.begin() + static_cast<std::ptrdiff_t>(pos + 2),
                                   dpb.begin() + static_cast<std::ptrdiff_t>(pos + 2 + length)) ==
                           value,
                       "DPB text item differs from " + fuzzcheck::Shown(line));
        }
        pos += 2 + length;
        ++item;
    }
    FUZZ_CHECK(item == counted.size(), "DPB has " + std::to_string(item) + " items for " +
                                           std::to_string(counted.size()) + " lines");
}

void CheckTPB(const std::vector<std::string>& lines) {
    std::vector<std::uint8_t> tpb;
    try {
        tpb = ibclient::BuildTPB(lines);
    } catch (const ibclient::EIBClientError&) {
        return;
    } catch (const ibclient::EConvertError&) {
        return; // a lock_timeout value that is no 32-bit number
    }
    if (lines.empty()) {
        FUZZ_CHECK(tpb.empty(), "TPB for no lines");
        return;
    }
    FUZZ_CHECK(!tpb.empty() && tpb[0] == 3, "TPB without version byte: " + Hex(tpb));
    FUZZ_CHECK(tpb.size() <= ibclient::kMaxParamBufferLength, "TPB too long");
    std::size_t counted = 0;
    for (const std::string& line : lines) {
        counted += IsBlankText(line) ? 0 : 1;
    }
    std::size_t pos = 1;
    std::size_t item = 0;
    while (pos < tpb.size()) {
        const int code = tpb[pos];
        FUZZ_CHECK(code >= 1 && code <= 21, "unknown TPB item " + std::to_string(code));
        if (code == 21) { // lock_timeout: a counted 4-byte number
            FUZZ_CHECK(pos + 6 <= tpb.size() && tpb[pos + 1] == 4,
                       "lock timeout without its 4-byte value: " + Hex(tpb));
            pos += 6;
        } else if (code == 10 || code == 11) { // lock_read, lock_write: a counted table name
            FUZZ_CHECK(pos + 1 < tpb.size(), "table lock without length: " + Hex(tpb));
            const std::size_t length = tpb[pos + 1];
            FUZZ_CHECK(length > 0 && pos + 2 + length <= tpb.size(),
                       "table name runs past the end: " + Hex(tpb));
            pos += 2 + length;
        } else {
            ++pos;
        }
        ++item;
    }
    FUZZ_CHECK(item == counted, "TPB has " + std::to_string(item) + " items for " +
                                    std::to_string(counted) + " lines");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 3) {
    case 0:
        CheckDPB(SplitLines(text));
        break;
    case 1:
        CheckTPB(SplitLines(text));
        break;
    default: {
        // The comma form of a parameter list, as a TIBDatabase or TIBTransaction gets it.
        ibclient::TParamList list(nullptr, nullptr);
        list.SetCommaText(text);
        std::size_t commas = 0;
        for (const char c : text) {
            commas += c == ',' ? 1 : 0;
        }
        FUZZ_CHECK(list.Count() == (text.empty() ? 0 : commas + 1), "comma text split wrongly");
        CheckDPB(list.Lines());
        CheckTPB(list.Lines());
        break;
    }
    }
    return 0;
}
