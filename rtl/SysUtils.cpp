#include "rtl/SysUtils.h"

namespace rtl {

void NoteRaise(const Exception&) noexcept
{
    // Deliberately empty and out of line: set a breakpoint here to stop at the first failure.
}

std::string FormatInt(const std::string& AFormat, std::int32_t AValue)
{
    const std::string number = std::to_string(AValue);
    std::string result;
    result.reserve(AFormat.size() + number.size());
    for (std::size_t i = 0; i < AFormat.size(); ++i) {
        if (AFormat[i] == '%' && i + 1 < AFormat.size() && AFormat[i + 1] == 'd') {
            result += number;
            ++i;
        } else {
            result += AFormat[i];
        }
    }
    return result;
}

} // namespace rtl
