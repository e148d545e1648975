// Windows-1251 and Unicode through the C library's iconv; 8-bit system text is taken as it is.
#include "platform/CodePage.h"

#include "platform/Errors.h"
#include "platform/Unicode.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform {

namespace {

constexpr const char* kWindows1251 = "WINDOWS-1251";

// One iconv conversion descriptor, closed when destroyed.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(::iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) {
            throw Exception(std::string("Cannot convert text from ") + from + " to " + to + ": " +
                            std::strerror(errno));
        }
    }
    ~Converter() { ::iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // One iconv call on the rest of `source` from `consumed` into the rest of `out` from
    // `written`; both positions move on. False when iconv stopped before the end of the source;
    // errno then says why.
    bool Step(std::string_view source, std::size_t& consumed, std::string& out,
              std::size_t& written) const {
        // iconv takes a non-const input pointer but does not write through it.
        char* in = const_cast<char*>(source.data()) + consumed;
        std::size_t inLeft = source.size() - consumed;
        char* outPtr = out.data() + written;
        std::size_t outLeft = out.size() - written;
        const std::size_t rc = ::iconv(cd_, &in, &inLeft, &outPtr, &outLeft);
        consumed = source.size() - inLeft;
        written = out.size() - outLeft;
        return rc != static_cast<std::size_t>(-1);
    }

private:
    iconv_t cd_;
};

const char* IconvName(UnicodeForm form) noexcept {
    switch (form) {
    case UnicodeForm::Utf16LE:
        return "UTF-16LE";
    case UnicodeForm::Utf16BE:
        return "UTF-16BE";
    case UnicodeForm::Utf8:
        break;
    }
    return "UTF-8";
}

}  // namespace

std::string UnicodeToWindows1251(std::string_view source, UnicodeForm from,
                                 std::vector<TUnmappedPlace>& unmapped) {
    // Where iconv stops at a character it cannot convert (EILSEQ) or at an incomplete one at
    // the end (EINVAL), a "?" stands in the text, the place is recorded and conversion goes on
    // after it: after the whole character when it is one of the source form, after one code
    // unit when it is not. No //TRANSLIT or //IGNORE is asked for, so iconv never replaces or
    // drops a character by itself.
    const Converter converter(kWindows1251, IconvName(from));
    const std::size_t unitSize = from == UnicodeForm::Utf8 ? 1 : 2;
    // Every source character (at least one byte) gives one Windows-1251 byte.
    std::string text(source.size(), '\0');
    std::size_t written = 0;
    std::size_t consumed = 0;
    while (consumed < source.size()) {
        if (converter.Step(source, consumed, text, written)) {
            break;
        }
        if (errno != EILSEQ && errno != EINVAL) {
            throw Exception(std::string("Cannot convert text from ") + IconvName(from) + ": " +
                            std::strerror(errno));
        }
        TUnmappedPlace place;
        place.SourceOffset = consumed;
        place.TextOffset = written;
        const std::size_t length = DecodeCharacter(source.substr(consumed), from, place.CodePoint);
        place.Malformed = length == 0;
        if (place.Malformed) {
            place.CodePoint = 0;
        }
        unmapped.push_back(place);
        text[written++] = '?';
        consumed += place.Malformed ? std::min(unitSize, source.size() - consumed) : length;
    }
    text.resize(written);
    return text;
}

std::string Windows1251ToUtf8(std::string_view text) {
    const Converter converter("UTF-8", kWindows1251);
    // Every Windows-1251 character takes at most three bytes of UTF-8.
    std::string out(text.size() * 3, '\0');
    std::size_t written = 0;
    std::size_t consumed = 0;
    while (consumed < text.size()) {
        if (converter.Step(text, consumed, out, written)) {
            break;
        }
        if (errno != EILSEQ && errno != EINVAL) {
            throw Exception(std::string("Cannot convert text from ") + kWindows1251 + ": " +
                            std::strerror(errno));
        }
        // A byte that stands for no character.
        std::string replacement;
        AppendUtf8(replacement, 0xFFFD);
        out.replace(written, replacement.size(), replacement);
        written += replacement.size();
        ++consumed;
    }
    out.resize(written);
    return out;
}

std::string Windows1251ToUtf16LE(std::string_view text) {
    return Utf8ToUtf16(Windows1251ToUtf8(text), ByteOrder::LittleEndian);
}

std::string ActiveCodePageToUtf8(std::string_view text) {
    return std::string(text);
}

std::string Utf8ToActiveCodePage(std::string_view text, bool* lossless) {
    if (lossless != nullptr) {
        *lossless = true;
    }
    return std::string(text);
}

}  // namespace platform
