// The drawing trace: every FillRect, Ellipse and Polyline the module makes on the player's
// context, one line each, with a "frame <n>" line before each Draw. Other tools read it, so the
// format is fixed:
//   frame <n>
//   FillRect <Left> <Top> <Right> <Bottom> brush=0x<BBGGRR, 8 upper-case hex digits>
//   Ellipse <X1> <Y1> <X2> <Y2> pen=0x<8 hex>/<width> brush=0x<8 hex>
//   Polyline <count> <x0>,<y0> <x1>,<y1> ... pen=0x<8 hex>/<width>
// FillRect's brush is its brush argument; Ellipse's pen and brush, and Polyline's pen, are
// those selected in the context at the call.
#pragma once

#include "tools/lib/output/AtomicFile.h"

#include <windows.h>
#include <win32_standin.h>

#include <cstdint>
#include <string>

namespace drive {

class TTraceWriter {
public:
    // Opens the trace file (committed by Commit) and records the calls made on ADc from now on.
    TTraceWriter(const std::string& APath, HDC ADc);
    // Stops recording.
    ~TTraceWriter();
    TTraceWriter(const TTraceWriter&) = delete;
    TTraceWriter& operator=(const TTraceWriter&) = delete;

    // Writes the "frame" line that precedes Draw for frame AFrame; common::EToolError when the trace
    // could not be written since the last frame began, so that a full disk ends the run at once
    // rather than after all its frames.
    void BeginFrame(std::int64_t AFrame);
    // Stops recording and completes the file, synced to disk; common::EToolError when it cannot.
    void Finish();
    // What output::CommitTogether moves into place (borrowed).
    output::TStagedOutput* Staged() noexcept { return &FFile; }
    // Finish, then the commit of the trace alone.
    void Commit();

    // One recorded call as its trace line, without the newline; empty for calls the trace
    // leaves out. Exposed for tests.
    static std::string LineOf(const STANDIN_CALL& ACall);

private:
    static void Record(const STANDIN_CALL* ACall, void* AUser);
    void Put() noexcept;
    void ThrowIfFailed();

    output::TAtomicFile FFile;
    HDC FDc;
    std::string FLine;   // reused for every line
    int FWriteError = 0; // errno of the first failed write; nothing is written after it
};

} // namespace drive
