// The process-wide locale format settings and the translation of the system's date and time
// formats into pattern elements (the reading of the system's settings is in posix/ and windows/).
#include "platform/FormatSettings.h"

#include <cstring>
#include <optional>
#include <vector>

namespace platform {

namespace {

TFormatSettings& Current() {
    static TFormatSettings settings;
    return settings;
}

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

// A character that may stand between two fields as their separator.
bool IsSeparatorCandidate(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 32 && u < 127 && !IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '%' && c != '\'' &&
           c != '"';
}

// Literal text outside the pattern letters: quoted when it holds anything the pattern
// formatter would read as an element, a separator or a quotation mark.
void AppendLiteral(std::string& out, std::string_view text) {
    if (text.empty())
        return;
    bool plain = true;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (IsAsciiLetter(c) || c == '/' || c == ':' || c == '\'' || c == '"' || u >= 127) {
            plain = false;
        }
    }
    if (plain) {
        out += text;
        return;
    }
    // Quote with the mark that the text does not contain; split on the rare text that has both.
    std::string run;
    char quote = 0;
    auto flush = [&] {
        if (!run.empty()) {
            out += quote;
            out += run;
            out += quote;
            run.clear();
        }
    };
    for (char c : text) {
        const char wanted = c == '"' ? '\'' : (c == '\'' ? '"' : (quote ? quote : '"'));
        if (wanted != quote) {
            flush();
            quote = wanted;
        }
        run += c;
    }
    flush();
}

// One conversion of a strftime format: its letter after the optional glibc flags and width.
struct Conversion {
    char letter = 0;
    bool noPadding = false;  // the "-" flag
    size_t length = 0;       // characters taken from the format
};

std::optional<Conversion> ReadConversion(std::string_view format, size_t pos) {
    if (pos >= format.size() || format[pos] != '%')
        return std::nullopt;
    Conversion conv;
    size_t i = pos + 1;
    while (i < format.size() && std::strchr("_-0^#", format[i]) != nullptr) {
        if (format[i] == '-')
            conv.noPadding = true;
        ++i;
    }
    while (i < format.size() && IsAsciiDigit(format[i]))
        ++i;
    while (i < format.size() && (format[i] == 'E' || format[i] == 'O'))
        ++i;
    if (i >= format.size())
        return std::nullopt;
    conv.letter = format[i];
    conv.length = i + 1 - pos;
    return conv;
}

// Expands the composite conversions of a strftime format into their parts: `expansion` gives
// the parts for a conversion letter, or nothing to keep that conversion as it is.
template <class Expansion>
std::string ExpandComposites(std::string_view format, const Expansion& expansion) {
    std::string out;
    for (size_t i = 0; i < format.size();) {
        const auto conv = ReadConversion(format, i);
        if (!conv) {
            out += format[i++];
            continue;
        }
        if (const std::optional<std::string_view> parts = expansion(conv->letter)) {
            out += *parts;
        } else {
            out.append(format.substr(i, conv->length));
        }
        i += conv->length;
    }
    return out;
}

std::string ExpandDateComposites(std::string_view format) {
    return ExpandComposites(format, [](char letter) -> std::optional<std::string_view> {
        if (letter == 'D')
            return "%m/%d/%y";
        if (letter == 'F')
            return "%Y-%m-%d";
        return std::nullopt;
    });
}

std::string ExpandTimeComposites(std::string_view format, std::string_view ampmFormat) {
    return ExpandComposites(format, [&](char letter) -> std::optional<std::string_view> {
        if (letter == 'T')
            return "%H:%M:%S";
        if (letter == 'R')
            return "%H:%M";
        if (letter == 'r')
            return ampmFormat.empty() ? "%I:%M:%S %p" : ampmFormat;
        return std::nullopt;
    });
}

// One piece of a Windows format picture: a field (a run of one pattern letter) or literal
// text, quoted or not.
struct PictureToken {
    char letter = 0;        // the field's letter; 0 for literal text
    std::size_t count = 0;  // how often the letter is repeated
    std::string text;       // literal text
    bool quoted = false;
};

// Cuts a Windows format picture into fields of the letters in `fieldLetters` and literal
// text; 'text' is quoted literal text and '' stands for one quotation mark.
std::vector<PictureToken> ReadPicture(std::string_view picture, std::string_view fieldLetters) {
    std::vector<PictureToken> tokens;
    const auto literal = [&](std::string_view text, bool quoted) {
        if (tokens.empty() || tokens.back().letter != 0 || tokens.back().quoted != quoted) {
            tokens.push_back(PictureToken{0, 0, {}, quoted});
        }
        tokens.back().text += text;
    };
    for (std::size_t i = 0; i < picture.size();) {
        const char c = picture[i];
        if (c == '\'') {
            if (i + 1 < picture.size() && picture[i + 1] == '\'') {
                literal("'", true);
                i += 2;
                continue;
            }
            std::string text;
            std::size_t j = i + 1;
            for (; j < picture.size(); ++j) {
                if (picture[j] == '\'') {
                    if (j + 1 < picture.size() && picture[j + 1] == '\'') {
                        text += '\'';
                        ++j;
                        continue;
                    }
                    break;
                }
                text += picture[j];
            }
            literal(text, true);
            i = j + 1;
            continue;
        }
        if (fieldLetters.find(c) != std::string_view::npos) {
            std::size_t j = i;
            while (j < picture.size() && picture[j] == c)
                ++j;
            tokens.push_back(PictureToken{c, j - i, {}, false});
            i = j;
            continue;
        }
        literal(std::string_view(&picture[i], 1), false);
        ++i;
    }
    return tokens;
}

// True when tokens[i] is unquoted literal text of one separator character between two fields.
bool IsSeparatorBetweenFields(const std::vector<PictureToken>& tokens, std::size_t i) {
    return i > 0 && i + 1 < tokens.size() && tokens[i].letter == 0 && !tokens[i].quoted &&
           tokens[i].text.size() == 1 && IsSeparatorCandidate(tokens[i].text[0]) &&
           tokens[i - 1].letter != 0 && tokens[i + 1].letter != 0;
}

}  // namespace

TTranslatedFormat TranslateDateFormat(std::string_view dateFormat) {
    const std::string format = ExpandDateComposites(dateFormat);
    // The separator is the first single character found between two fields.
    TTranslatedFormat result;
    bool seenField = false;
    for (size_t i = 0; i < format.size() && result.Separator == 0;) {
        if (const auto conv = ReadConversion(format, i)) {
            seenField = true;
            i += conv->length;
            continue;
        }
        if (seenField && IsSeparatorCandidate(format[i]) && ReadConversion(format, i + 1)) {
            result.Separator = format[i];
        }
        ++i;
    }

    std::string literal;
    auto flush = [&] {
        AppendLiteral(result.Pattern, literal);
        literal.clear();
    };
    for (size_t i = 0; i < format.size();) {
        const auto conv = ReadConversion(format, i);
        if (!conv) {
            const char c = format[i++];
            if (result.Separator != 0 && c == result.Separator) {
                flush();
                result.Pattern += '/';
            } else {
                literal += c;
            }
            continue;
        }
        i += conv->length;
        const char* element = nullptr;
        switch (conv->letter) {
        case 'd':
            element = conv->noPadding ? "d" : "dd";
            break;
        case 'e':
            element = "d";
            break;
        case 'm':
            element = conv->noPadding ? "m" : "mm";
            break;
        case 'y':
            element = "yy";
            break;
        case 'Y':
        case 'G':
            element = "yyyy";
            break;
        case 'b':
        case 'h':
            element = "mmm";
            break;
        case 'B':
            element = "mmmm";
            break;
        case 'a':
            element = "ddd";
            break;
        case 'A':
            element = "dddd";
            break;
        case '%':
            literal += '%';
            break;
        case 'n':
            literal += ' ';
            break;
        case 't':
            literal += ' ';
            break;
        default:
            break;  // conversions without a pattern element are left out
        }
        if (element) {
            flush();
            result.Pattern += element;
        }
    }
    flush();
    return result;
}

TTranslatedFormat TranslateTimeFormat(std::string_view timeFormat, std::string_view ampmFormat) {
    const std::string format = ExpandTimeComposites(timeFormat, ampmFormat);
    TTranslatedFormat result;
    bool twelveHour = false;
    bool leadingZero = true;
    bool markerFirst = false;
    bool seenHour = false;
    bool seenMarker = false;
    size_t afterHour = std::string::npos;
    for (size_t i = 0; i < format.size();) {
        const auto conv = ReadConversion(format, i);
        if (!conv) {
            ++i;
            continue;
        }
        const char letter = conv->letter;
        if (!seenHour && (letter == 'H' || letter == 'I' || letter == 'k' || letter == 'l')) {
            seenHour = true;
            twelveHour = twelveHour || letter == 'I' || letter == 'l';
            leadingZero = !conv->noPadding && (letter == 'H' || letter == 'I');
            afterHour = i + conv->length;
            markerFirst = seenMarker;
        } else if (letter == 'p' || letter == 'P') {
            twelveHour = true;
            seenMarker = true;
        } else if (letter == 'M' && afterHour != std::string::npos && result.Separator == 0) {
            // A single character between hour and minute is the time separator.
            if (i == afterHour + 1 && IsSeparatorCandidate(format[afterHour])) {
                result.Separator = format[afterHour];
            }
        }
        i += conv->length;
    }
    std::string pattern = leadingZero ? "hh:mm:ss" : "h:mm:ss";
    if (twelveHour)
        pattern = markerFirst ? "AMPM " + pattern : pattern + " AMPM";
    result.Pattern = std::move(pattern);
    return result;
}

TTranslatedFormat TranslateWindowsDateFormat(std::string_view dateFormat) {
    std::vector<PictureToken> tokens = ReadPicture(dateFormat, "dMyg");
    // The era has no pattern element; a separator is looked for between the fields left.
    std::erase_if(tokens, [](const PictureToken& token) { return token.letter == 'g'; });
    TTranslatedFormat result;
    for (std::size_t i = 0; i < tokens.size() && result.Separator == 0; ++i) {
        if (IsSeparatorBetweenFields(tokens, i)) {
            result.Separator = tokens[i].text[0];
        }
    }
    std::string literal;
    const auto flush = [&] {
        AppendLiteral(result.Pattern, literal);
        literal.clear();
    };
    for (const PictureToken& token : tokens) {
        if (token.letter == 0) {
            for (const char c : token.text) {
                if (!token.quoted && result.Separator != 0 && c == result.Separator) {
                    flush();
                    result.Pattern += '/';
                } else {
                    literal += c;
                }
            }
            continue;
        }
        flush();
        const std::size_t n = token.count;
        switch (token.letter) {
        case 'd':
            result.Pattern += n == 1 ? "d" : n == 2 ? "dd" : n == 3 ? "ddd" : "dddd";
            break;
        case 'M':
            result.Pattern += n == 1 ? "m" : n == 2 ? "mm" : n == 3 ? "mmm" : "mmmm";
            break;
        case 'y':
            result.Pattern += n <= 2 ? "yy" : "yyyy";
            break;
        default:
            break;
        }
    }
    flush();
    return result;
}

TTranslatedFormat TranslateWindowsTimeFormat(std::string_view timeFormat) {
    const std::vector<PictureToken> tokens = ReadPicture(timeFormat, "hHmst");
    TTranslatedFormat result;
    bool twelveHour = false;
    bool leadingZero = true;
    bool markerFirst = false;
    bool seenHour = false;
    bool seenMarker = false;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const char letter = tokens[i].letter;
        if (!seenHour && (letter == 'h' || letter == 'H')) {
            seenHour = true;
            twelveHour = twelveHour || letter == 'h';
            leadingZero = tokens[i].count >= 2;
            markerFirst = seenMarker;
            // A single character between hour and minute is the time separator.
            if (IsSeparatorBetweenFields(tokens, i + 1) && tokens[i + 2].letter == 'm') {
                result.Separator = tokens[i + 1].text[0];
            }
        } else if (letter == 't') {
            twelveHour = true;
            seenMarker = true;
        }
    }
    std::string pattern = leadingZero ? "hh:mm:ss" : "h:mm:ss";
    if (twelveHour)
        pattern = markerFirst ? "AMPM " + pattern : pattern + " AMPM";
    result.Pattern = std::move(pattern);
    return result;
}

const TFormatSettings& FormatSettings() {
    return Current();
}

void LoadFormatSettings() {
    static bool loaded = false;
    if (loaded)
        return;
    loaded = true;
    Current() = ReadLocaleFormatSettings();
}

void SetFormatSettings(const TFormatSettings& settings) {
    Current() = settings;
}

}  // namespace platform
