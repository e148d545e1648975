// Windows-1251 and Unicode through Windows' own table of code page 1251, and the active code
// page through MultiByteToWideChar and WideCharToMultiByte.
#include "platform/CodePage.h"

#include "platform/Errors.h"
#include "platform/Unicode.h"
#include "platform/windows/WindowsText.h"

#include <algorithm>
#include <array>
#include <unordered_map>

namespace platform {

namespace {

constexpr UINT kWindows1251 = 1251;
constexpr char32_t kNoCharacter = 0xFFFD;

// Code page 1251 both ways, read once from the system's own table. A byte that the system
// maps to a C1 control character (0x98, which code page 1251 leaves undefined) stands for no
// character, as the C library's table has it.
struct Table {
    std::array<char32_t, 256> toUnicode{};
    std::unordered_map<char32_t, char> fromUnicode;
};

const Table& Windows1251() {
    static const Table table = [] {
        Table result;
        for (int byte = 0; byte < 256; ++byte) {
            const char narrow = static_cast<char>(byte);
            wchar_t wide = 0;
            const bool mapped =
                MultiByteToWideChar(kWindows1251, MB_ERR_INVALID_CHARS, &narrow, 1, &wide, 1) == 1;
            const char32_t codePoint = wide;
            if (!mapped || (byte >= 0x80 && codePoint >= 0x80 && codePoint <= 0x9F)) {
                result.toUnicode[static_cast<std::size_t>(byte)] = kNoCharacter;
                continue;
            }
            result.toUnicode[static_cast<std::size_t>(byte)] = codePoint;
            result.fromUnicode.emplace(codePoint, narrow);
        }
        if (result.fromUnicode.size() < 128) {
            throw Exception(
                "Cannot convert text to WINDOWS-1251: the system has no code page 1251");
        }
        return result;
    }();
    return table;
}

}  // namespace

std::string UnicodeToWindows1251(std::string_view source, UnicodeForm from,
                                 std::vector<TUnmappedPlace>& unmapped) {
    const Table& table = Windows1251();
    const std::size_t unitSize = from == UnicodeForm::Utf8 ? 1 : 2;
    std::string text;
    text.reserve(source.size() / unitSize);
    for (std::size_t at = 0; at < source.size();) {
        char32_t codePoint = 0;
        const std::size_t length = DecodeCharacter(source.substr(at), from, codePoint);
        if (length != 0) {
            if (const auto it = table.fromUnicode.find(codePoint); it != table.fromUnicode.end()) {
                text += it->second;
                at += length;
                continue;
            }
        }
        TUnmappedPlace place;
        place.SourceOffset = at;
        place.TextOffset = text.size();
        place.Malformed = length == 0;
        place.CodePoint = place.Malformed ? 0 : codePoint;
        unmapped.push_back(place);
        text += '?';
        at += place.Malformed ? std::min(unitSize, source.size() - at) : length;
    }
    return text;
}

std::string Windows1251ToUtf8(std::string_view text) {
    const Table& table = Windows1251();
    std::string out;
    out.reserve(text.size() * 2);
    for (const char c : text) {
        AppendUtf8(out, table.toUnicode[static_cast<unsigned char>(c)]);
    }
    return out;
}

std::string Windows1251ToUtf16LE(std::string_view text) {
    return Utf8ToUtf16(Windows1251ToUtf8(text), ByteOrder::LittleEndian);
}

std::string ActiveCodePageToUtf8(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int size =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return windows::Narrow(wide);
}

std::string Utf8ToActiveCodePage(std::string_view text, bool* lossless) {
    if (lossless != nullptr) {
        *lossless = true;
    }
    // A system whose active code page is UTF-8 takes the text as it is.
    if (text.empty() || GetACP() == CP_UTF8) {
        return std::string(text);
    }
    const std::wstring wide = windows::Wide(text);
    BOOL usedDefault = FALSE;
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                         static_cast<int>(wide.size()), nullptr, 0, "?", nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                        out.data(), size, "?", &usedDefault);
    if (lossless != nullptr) {
        *lossless = usedDefault == FALSE;
    }
    return out;
}

}  // namespace platform
