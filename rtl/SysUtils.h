// The runtime's error classes and the one path every raised error takes.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace rtl {

// The general error of the module: carries only its message text.
class Exception {
public:
    explicit Exception(std::string AMessage) : FMessage(std::move(AMessage)) {}
    virtual ~Exception() = default;

    const std::string& Message() const noexcept { return FMessage; }

private:
    std::string FMessage;
};

// An operation that the object's current state does not allow.
class EInvalidOperation : public Exception {
public:
    using Exception::Exception;
};

// Every error the module raises passes through here first: a single place to break on.
void NoteRaise(const Exception& E) noexcept;

// Every error that a slot the player calls contains (and so never reaches the player) passes
// through here: a single place to break on. E is the module's own error, or null for any other
// exception (a failed allocation, say). Counted, so that tests can tell a contained error from
// none at all.
void NoteContained(const Exception* E) noexcept;
// How many errors have passed NoteContained since the module was loaded, on every thread.
std::uint64_t ContainedCount() noexcept;

template <class E>
[[noreturn]] void Raise(E AError)
{
    NoteRaise(AError);
    throw AError;
}

// Formats AFormat with one integer argument: each "%d" becomes AValue as a signed decimal
// integer, so 0x80004005 reads -2147467259. No other directive is interpreted.
std::string FormatInt(const std::string& AFormat, std::int32_t AValue);

} // namespace rtl
