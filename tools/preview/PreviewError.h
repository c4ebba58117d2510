// The one kind of failure the preview reports to its user: bad input, a module that is not a
// plug-in, an output that cannot be written. Each carries a one-line message and ends the run
// with exit status 2.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

namespace preview {

class EPreviewError : public std::runtime_error {
public:
    explicit EPreviewError(const std::string& AMessage) : std::runtime_error(AMessage) {}
};

// The run was stopped by RequestStop between two frames; what it wrote is removed. (A signal
// ends the program from its handler instead: see Interrupt.h.)
class EPreviewInterrupted : public std::runtime_error {
public:
    EPreviewInterrupted() : std::runtime_error("interrupted") {}
};

// Writes "AProgram: AMessage" to standard error as exactly one line: line breaks inside the
// message become spaces. The one way the tools report a failure to their user.
inline void ReportOneLine(const char* AProgram, const char* AMessage)
{
    std::string line(AMessage);
    for (char& c : line)
        if (c == '\n' || c == '\r')
            c = ' ';
    std::fprintf(stderr, "%s: %s\n", AProgram, line.c_str());
}

// The exit status of a run that stopped on an EPreviewError.
inline constexpr int ExitBadInput = 2;
// The exit status of an interrupted run, as a shell reports one ended by SIGINT.
inline constexpr int ExitInterrupted = 130;

} // namespace preview
