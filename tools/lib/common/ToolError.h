// The one kind of failure the tools report to their user: bad input, a module that is not a
// plug-in, an output that cannot be written. Each carries a one-line message and ends the run
// with exit status 2.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace common {

class EToolError : public std::runtime_error {
public:
    explicit EToolError(const std::string& AMessage) : std::runtime_error(AMessage) {}
};

// The run was stopped by RequestStop between two frames; what it wrote is removed. (A signal
// ends the program from its handler instead: see Interrupt.h.)
class EInterrupted : public std::runtime_error {
public:
    EInterrupted() : std::runtime_error("interrupted") {}
};

// AText between single quotes, safe to print on a terminal: control characters (C0, DEL and
// C1), bytes that are not UTF-8, the backslash and the quote itself are escaped (\n, \x1b, \\,
// \'), so that a file name cannot move the cursor, recolour the terminal or end a message early.
// Every name a message shows goes through it.
std::string Quoted(std::string_view AText);

// The program's name, which begins every line it writes to its user ("selvanore-play: ..."):
// ReportOneLine's, the ending handler's and EndProcessNow's. Stated once, by the program's main
// through RunProgram (ProgramMain.h), before anything can report; AName is not copied and must
// last as long as the process (a string literal). Until then it is "selvanore".
void SetProgramName(const char* AName) noexcept;
// Never null; safe inside a signal handler (one lock-free atomic load).
const char* ProgramName() noexcept;

// Writes "NAME: AMessage" to standard error as exactly one line, NAME being ProgramName(): line
// breaks inside the message become spaces, and any other control character is escaped as Quoted
// does. The one way the tools report a failure to their user.
void ReportOneLine(const char* AMessage);

// The exit status of a run that stopped on an EToolError.
inline constexpr int ExitBadInput = 2;
// The exit status of an interrupted run, as a shell reports one ended by SIGINT.
inline constexpr int ExitInterrupted = 130;

} // namespace common
