// What every program of the tools does around its own work, as its main: the program's name
// stated once, the standard descriptors and the ending signals made safe, and the one line and
// exit status of whatever the run lets escape.
#pragma once

namespace common {

struct TProgram {
    // Begins every line the program writes to its user (SetProgramName): a string literal.
    const char* Name;
    // The line of a std::bad_alloc that escapes the run: what to ask for less of.
    const char* OutOfMemory;
};

// main's body for AProgram: returns the exit status for main to return.
// - First, before anything is opened: OccupyStandardDescriptors, SetProgramName(AProgram.Name)
//   and InstallEndingHandlers (Interrupt.h), so that no file of the run takes a closed standard
//   descriptor, a reader that goes away or a file-size limit is a write error, and an ending
//   signal removes what the run wrote.
// - Then ABody(ACount, AArguments), whose status is returned.
// - What escapes it is reported as one line (ReportOneLine) with its status: EInterrupted with
//   ExitInterrupted, EToolError with ExitBadInput, std::bad_alloc as AProgram.OutOfMemory with
//   ExitBadInput (the outputs are gone with the unwinding), any other std::exception with 1.
int RunProgram(const TProgram& AProgram, int ACount, char** AArguments, int (*ABody)(int ACount, char** AArguments));

} // namespace common
