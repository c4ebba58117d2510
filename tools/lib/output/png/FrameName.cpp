#include "tools/lib/output/png/FrameName.h"

#include <algorithm>
#include <initializer_list>

namespace output {

int FormatFrameName(std::int64_t AFrame, char* AOut) noexcept
{
    char digits[24];
    int count = 0;
    auto value = static_cast<std::uint64_t>(AFrame < 0 ? 0 : AFrame);
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    while (count < 6)
        digits[count++] = '0';
    int length = 0;
    for (const char c : {'f', 'r', 'a', 'm', 'e', '-'})
        AOut[length++] = c;
    while (count > 0)
        AOut[length++] = digits[--count];
    for (const char c : {'.', 'p', 'n', 'g'})
        AOut[length++] = c;
    AOut[length] = 0;
    return length;
}

bool IsFrameName(std::string_view AName) noexcept
{
    constexpr std::string_view Prefix = "frame-", Suffix = ".png";
    if (AName.size() < Prefix.size() + 6 + Suffix.size() || AName.substr(0, Prefix.size()) != Prefix ||
        AName.substr(AName.size() - Suffix.size()) != Suffix)
        return false;
    const std::string_view digits = AName.substr(Prefix.size(), AName.size() - Prefix.size() - Suffix.size());
    return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace output
