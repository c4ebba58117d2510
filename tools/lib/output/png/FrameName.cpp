#include "tools/lib/output/png/FrameName.h"

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

} // namespace output
