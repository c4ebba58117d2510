// The record of the temporary outputs that the ending-signal handler (common/Interrupt.h) removes
// before the process ends: a fixed table of paths, safe to read inside the handler.
#pragma once

#include <cstdint>
#include <string>

namespace output {

enum class TTemporaryKind {
    File,
    FrameFolder, // a folder holding "frame-NNNNNN.png" files, numbered from 0
};

// One temporary output in the record the handler clears. Made and dropped while the ending
// signals are held (TEndingSignalsHeld), so that the record and the file system agree whenever
// the handler can run.
class TTemporaryRecord {
public:
    TTemporaryRecord() noexcept = default;
    // Records APath (which must already exist); EToolError when the record is full or the
    // path too long for it (neither happens with the preview's few outputs).
    TTemporaryRecord(const std::string& APath, TTemporaryKind AKind);
    // Drops the entry: the path is no longer the handler's to remove.
    ~TTemporaryRecord();
    TTemporaryRecord(TTemporaryRecord&& AOther) noexcept;
    TTemporaryRecord& operator=(TTemporaryRecord&& AOther) noexcept;

    // For a frame folder: frames 0 to ACount - 1 may exist in it. Raised before each frame's
    // file is created.
    void SetFrameCount(std::int64_t ACount) noexcept;
    void Drop() noexcept;

private:
    int FSlot = -1;
};

// The handler's cleanup: removes every recorded temporary, a frame folder with its frames.
// Installed with the first record; exposed for the tests, which call it outside a handler.
void RemoveRecordedTemporaries() noexcept;

} // namespace output
