// Outputs that appear whole or not at all, and all of a run's outputs together.
//
// A file is written unnamed (O_TMPFILE) in the folder of its final place, flushed to disk by
// Finish, and given a name only inside CommitTogether, once every output of the run is
// finished: a run killed outright (SIGKILL, a crash, a power cut) leaves nothing behind, since
// the file system drops an unnamed file with its last descriptor. Where the file system has no
// unnamed files, a file is written under a temporary name beside its final place, as a folder
// always is. Those names say which run made them (RunTemporaryPrefix), so that a later run
// writing into the same folder removes what a run that no longer exists left there. Destroyed
// without a commit (an error, a bad input found late, an interrupt), outputs remove what they
// wrote.
//
// The target is the path's final place: a symbolic link is followed and the file it points to
// is replaced, the link stays. An existing path that is no regular file (a device such as
// /dev/null, a FIFO) is written in place and never replaced; such an output cannot be taken
// back, so it is not atomic.
#pragma once

#include "tools/lib/common/Interrupt.h"
#include "tools/lib/output/Temporaries.h"

#include <cstdio>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace output {

// The start of the temporary names this process gives: ".sv-PID-START-NAMESPACE-BOOT-", where
// START is when the process started (clock ticks since boot), NAMESPACE its pid namespace and
// BOOT the start of the boot's identifier. A pid alone is reused; with the rest it names one
// process. Empty when /proc does not tell these: the temporaries are then named ".sv-XXXXXX",
// and no later run can tell whose they are, so none removes them.
std::string RunTemporaryPrefix();

// An open file descriptor, closed with its owner; -1 when none.
class TDescriptor {
public:
    TDescriptor() noexcept = default;
    // Takes ownership of ADescriptor.
    explicit TDescriptor(int ADescriptor) noexcept : FDescriptor(ADescriptor) {}
    ~TDescriptor() { Reset(); }
    TDescriptor(TDescriptor&& AOther) noexcept;
    TDescriptor& operator=(TDescriptor&& AOther) noexcept;

    // Borrowed: still owned by this object.
    int Get() const noexcept { return FDescriptor; }
    explicit operator bool() const noexcept { return FDescriptor >= 0; }
    void Reset() noexcept;

private:
    int FDescriptor = -1;
};

// A finished output that CommitTogether can move into place beside others.
class TStagedOutput {
public:
    virtual ~TStagedOutput() = default;

    // Moves the output into place, keeping what it replaces aside; common::EToolError when it cannot.
    virtual void Place() = 0;
    // Undoes a successful Place: what was replaced is back, the output under its temporary name.
    virtual void Restore() noexcept = 0;
    // Drops what Place kept aside: the output is committed for good.
    virtual void Settle() noexcept = 0;
};

// Moves AOutputs (nulls are skipped) into place together: when one cannot be placed, those
// placed before it are restored and the error is thrown. The ending signals are held meanwhile.
void CommitTogether(std::initializer_list<TStagedOutput*> AOutputs);

// How the moving into place is done, shared by files and folders (AtomicOutput.cpp).
class TPlacement {
public:
    enum class TKind { File, Folder };
    // Removes a replaced output that waits at APath.
    using TRemover = std::function<void(const std::string& APath)>;

    TPlacement() = default;
    TPlacement(std::string AShownName, std::string ATarget, TKind AKind, TRemover ARemover);

    void Place(const std::string& ATemporary);
    void Restore(const std::string& ATemporary) noexcept;
    void Settle(const std::string& ATemporary) noexcept;

private:
    enum class TState { Staged, Created, Exchanged, MovedAside };

    std::string FShownName;
    std::string FTarget;
    TKind FKind = TKind::File;
    TRemover FRemover;
    TState FState = TState::Staged;
    std::string FAside; // MovedAside: where the replaced output waits
};

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

// One folder of files. An existing folder is replaced as a whole, so that it holds exactly the
// new files; it may hold only entries that AOwns accepts (the files an earlier run wrote) or
// that this one writes, and is refused untouched otherwise.
class TAtomicFolder final : public TStagedOutput {
public:
    using TOwnership = std::function<bool(std::string_view AName)>;

    // AOwns empty: only names this run writes may be in an existing target.
    explicit TAtomicFolder(std::string ATarget, TOwnership AOwns = {});
    ~TAtomicFolder() override;
    TAtomicFolder(const TAtomicFolder&) = delete;
    TAtomicFolder& operator=(const TAtomicFolder&) = delete;

    // The path under which a file named AName is written before the commit.
    std::string PathOf(const std::string& AName) const { return FTemporary + "/" + AName; }
    // The path of frame AFrame ("frame-NNNNNN.png"), frames counted from 0 and written in
    // order; an interrupt removes the frames up to it.
    std::string FramePath(std::int64_t AFrame);
    const std::string& Target() const noexcept { return FTarget; }

    // Syncs the frames and the folder's entries to disk; common::EToolError when it fails. Files
    // written under PathOf are synced by their writers.
    void Finish();
    void Commit();

    void Place() override;
    void Restore() noexcept override;
    void Settle() noexcept override;

private:
    // common::EToolError naming the first entry of AFolder that is neither ours nor in the temporary.
    void RequireOnlyOurs(const std::string& AFolder) const;
    void Discard() noexcept;

    std::string FTarget;
    std::string FFinal; // the target with symbolic links followed
    TOwnership FOwns;
    std::string FTemporary;
    std::int64_t FFrames = 0; // frames 0 to FFrames - 1 may have been written
    TTemporaryRecord FRecord;
    TPlacement FPlacement;
    bool FCommitted = false;
};

// "cannot write output 'APath': <the C library's text for errno>".
[[noreturn]] void ThrowWriteError(const std::string& APath);

// A path named on the command line, and what it is for ("--input", "--trace").
struct TNamedPath {
    std::string Role;
    std::string Path;
};

// common::EToolError when an output is an input or another output (the same file however it is
// spelt: through symbolic links, "..", hard links), when an output lies inside AOutputFolder
// (empty: none) that the run replaces, or, when AStandardOutput, when standard output is a
// regular file or FIFO that is one of them. Paths that cannot be resolved are left for the
// opening to report.
void RequireSeparateFiles(const std::vector<TNamedPath>& AInputs, const std::vector<TNamedPath>& AOutputs,
                          const TNamedPath* AOutputFolder, bool AStandardOutput);

} // namespace output
