// One output folder of files that appears whole or not at all (Commit.h).
#pragma once

#include "tools/lib/output/Commit.h"
#include "tools/lib/output/Temporaries.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace output {

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

} // namespace output
