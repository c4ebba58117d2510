// One output file that appears whole or not at all (Commit.h).
#pragma once

#include "tools/lib/output/Commit.h"
#include "tools/lib/output/Paths.h"
#include "tools/lib/output/Temporaries.h"

#include <cstdio>
#include <string>

namespace output {

// One file.
class TAtomicFile final : public TStagedOutput {
public:
    // Opens the unnamed file (or, where the file system has none, the temporary file) in the
    // folder of ATarget's final place, or ATarget itself when that is a device or a FIFO;
    // common::EToolError when it cannot be written.
    explicit TAtomicFile(std::string ATarget);
    ~TAtomicFile() override;
    TAtomicFile(const TAtomicFile&) = delete;
    TAtomicFile& operator=(const TAtomicFile&) = delete;

    // The open file (borrowed; closed by Finish or the destructor).
    std::FILE* Stream() const noexcept { return FStream; }
    // The path as the user gave it, for messages.
    const std::string& Target() const noexcept { return FTarget; }
    // Written in place (a device, a FIFO): nothing to commit or remove.
    bool InPlace() const noexcept { return FInPlace; }

    // Flushes, syncs to disk and closes the stream; common::EToolError when any step fails. An
    // unnamed file stays open, unseen, until the commit names it.
    void Finish();
    // Finish, then this file's CommitTogether alone.
    void Commit();

    void Place() override;
    void Restore() noexcept override;
    void Settle() noexcept override;

private:
    // Gives the unnamed file its temporary name beside the target, and records it.
    void NameUnnamed();
    void Discard() noexcept;

    std::string FTarget;
    std::string FFolder;    // where the final place lies
    std::string FTemporary; // the file's temporary name; empty while it is unnamed
    TDescriptor FUnnamed;   // the unnamed file, until the commit settles; none on the fallback
    bool FInPlace = false;
    std::FILE* FStream = nullptr;
    TTemporaryRecord FRecord;
    TPlacement FPlacement;
    bool FCommitted = false;
};

} // namespace output
