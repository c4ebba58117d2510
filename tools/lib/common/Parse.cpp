#include "tools/lib/common/Parse.h"

#include "tools/lib/common/ToolError.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ostream>

namespace common {

namespace {

// AText without the blanks around it, as a shell user may quote a number with them.
std::string Trimmed(const std::string& AText)
{
    const std::size_t first = AText.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return AText.substr(first, AText.find_last_not_of(" \t") - first + 1);
}

} // namespace

void WriteHelp(std::ostream& AOut, const std::string& AHelp)
{
    // Help that did not arrive whole (a full disk, a closed output) is a failure like any other
    // write.
    errno = 0;
    AOut << AHelp << std::flush;
    if (!AOut) {
        const int error = errno;
        throw EToolError(std::string("cannot write the help: ") +
                         (error != 0 ? std::strerror(error) : "the output failed"));
    }
}

std::int64_t ParseWhole(const std::string& AOption, const std::string& AText, std::int64_t AMin, std::int64_t AMax,
                        const std::string& ARange)
{
    const std::string text = Trimmed(AText);
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+')
        ++first;
    // from_chars takes a '-' but no '+', and nothing else before the digits.
    std::int64_t value = 0;
    std::from_chars_result parsed{first, std::errc::invalid_argument};
    if (first != last && (std::isdigit(static_cast<unsigned char>(*first)) || *first == '-'))
        parsed = std::from_chars(first, last, value);
    if (parsed.ec != std::errc() || parsed.ptr != last || value < AMin || value > AMax)
        throw EToolError(AOption + " must be a whole number " + ARange + ", not " + Quoted(AText));
    return value;
}

double ParseReal(const std::string& AOption, const std::string& AText, const std::string& ARule)
{
    const std::string text = Trimmed(AText);
    errno = 0;
    char* end = nullptr;
    const double value = text.empty() ? 0.0 : std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value))
        throw EToolError(AOption + " " + ARule + ", not " + Quoted(AText));
    return value;
}

void ParseSize(const std::string& AText, std::int32_t& AWidth, std::int32_t& AHeight)
{
    const auto fail = [&] {
        throw EToolError("--size must be WIDTHxHEIGHT with each side from 1 to " + std::to_string(MaxExtent) +
                         " pixels, not " + Quoted(AText));
    };
    const std::size_t cross = AText.find_first_of("xX");
    if (cross == std::string::npos)
        fail();
    const auto parseSide = [&](std::size_t ABegin, std::size_t AEnd) {
        std::int64_t value = 0;
        const char* first = AText.data() + ABegin;
        const char* last = AText.data() + AEnd;
        if (first == last || !std::isdigit(static_cast<unsigned char>(*first)))
            fail();
        const auto [end, error] = std::from_chars(first, last, value);
        if (error != std::errc() || end != last || value < 1 || value > MaxExtent)
            fail();
        return static_cast<std::int32_t>(value);
    };
    AWidth = parseSide(0, cross);
    AHeight = parseSide(cross + 1, AText.size());
}

} // namespace common
