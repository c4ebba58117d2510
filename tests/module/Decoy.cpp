// A library built the careless way, as the module must not be: default visibility, two exports,
// the C++ runtime taken from shared libraries, no version resource, a static object whose
// destructor runs whenever static destruction gets to it. Every artifact check must fail on it,
// which shows that the checks can fail at all.
#include <string>

std::string DecoyGreeting = "decoy";

extern "C" int DecoyFirst(const char* AText)
{
    return static_cast<int>(std::string(AText).size());
}

extern "C" int DecoySecond(int AValue)
{
    return AValue + 1;
}
