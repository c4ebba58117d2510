// The one kind of failure the preview reports to its user: bad input, a module that is not a
// plug-in, an output that cannot be written. Each carries a one-line message and ends the run
// with exit status 2.
#pragma once

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

// The exit status of a run that stopped on an EPreviewError.
inline constexpr int ExitBadInput = 2;
// The exit status of an interrupted run, as a shell reports one ended by SIGINT.
inline constexpr int ExitInterrupted = 130;

} // namespace preview
