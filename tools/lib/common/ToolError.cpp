#include "tools/lib/common/ToolError.h"

#include <atomic>
#include <cstdio>

namespace common {

namespace {

// A pointer, not a copy: the ending handler reads it, and a lock-free load of one word is all it
// may do with memory another thread writes.
std::atomic<const char*> NamedProgram{"selvanore"};
static_assert(std::atomic<const char*>::is_always_lock_free, "the ending handler reads the program's name");

void AppendHex(std::string& AOut, unsigned char AByte)
{
    static constexpr char Digits[] = "0123456789abcdef";
    AOut += "\\x";
    AOut += Digits[AByte >> 4];
    AOut += Digits[AByte & 0xF];
}

// The length of the well-formed UTF-8 sequence at the start of AText (shortest form, no
// surrogates, at most U+10FFFF), or 0 when there is none.
std::size_t Utf8Length(std::string_view AText, char32_t& ACode)
{
    const auto lead = static_cast<unsigned char>(AText[0]);
    std::size_t length;
    char32_t least;
    if (lead < 0x80) {
        ACode = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, least = 0x80, ACode = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, least = 0x800, ACode = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, least = 0x10000, ACode = lead & 0x07;
    } else {
        return 0;
    }
    if (AText.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(AText[i]);
        if ((next & 0xC0) != 0x80)
            return 0;
        ACode = (ACode << 6) | (next & 0x3F);
    }
    if (ACode < least || ACode > 0x10FFFF || (ACode >= 0xD800 && ACode <= 0xDFFF))
        return 0;
    return length;
}

enum class TEscapes {
    Name,   // a name between quotes: the quote and the backslash are escaped too
    Message // a whole message, whose names are already quoted: line breaks become spaces
};

// AText with every character a terminal could act on escaped.
std::string Escaped(std::string_view AText, TEscapes AEscapes)
{
    const bool name = AEscapes == TEscapes::Name;
    std::string out;
    out.reserve(AText.size());
    while (!AText.empty()) {
        char32_t code = 0;
        const std::size_t length = Utf8Length(AText, code);
        if (length == 0) {
            AppendHex(out, static_cast<unsigned char>(AText[0]));
            AText.remove_prefix(1);
            continue;
        }
        if (length == 1) {
            const char c = AText[0];
            if (name && (c == '\\' || c == '\'')) {
                out += '\\';
                out += c;
            } else if (!name && (c == '\n' || c == '\r')) {
                out += ' ';
            } else if (c == '\n') {
                out += "\\n";
            } else if (c == '\r') {
                out += "\\r";
            } else if (c == '\t') {
                out += "\\t";
            } else if (code < 0x20 || code == 0x7F) {
                AppendHex(out, static_cast<unsigned char>(c));
            } else {
                out += c;
            }
        } else if (code >= 0x80 && code <= 0x9F) {
            // C1 controls (CSI is U+009B): shown as the code point, not as its bytes.
            AppendHex(out, static_cast<unsigned char>(code));
        } else {
            out.append(AText.substr(0, length));
        }
        AText.remove_prefix(length);
    }
    return out;
}

} // namespace

std::string Quoted(std::string_view AText)
{
    return "'" + Escaped(AText, TEscapes::Name) + "'";
}

void SetProgramName(const char* AName) noexcept
{
    if (AName)
        NamedProgram.store(AName);
}

const char* ProgramName() noexcept
{
    return NamedProgram.load();
}

void ReportOneLine(const char* AMessage)
{
    // Line breaks in a library's text are its own wrapping, not the user's data: a space reads
    // better there than an escape.
    std::fprintf(stderr, "%s: %s\n", ProgramName(), Escaped(AMessage, TEscapes::Message).c_str());
}

} // namespace common
