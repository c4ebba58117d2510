// Outputs that appear whole or not at all, and all of a run's outputs together: what files
// (AtomicFile.h) and folders (AtomicFolder.h) share.
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

#include <functional>
#include <initializer_list>
#include <string>

namespace output {

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

// How the moving into place is done, shared by files and folders.
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

} // namespace output
