#include "tools/lib/output/SeparateFiles.h"

#include "tools/lib/common/ToolError.h"
#include "tools/lib/output/Paths.h"

#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace output {

namespace {

// What a path names, for telling whether two paths are the same file: the device and inode of
// what exists; for what does not exist yet, those of the folder it will be made in and its name.
struct TIdentity {
    bool Known = false;
    dev_t Device = 0;
    ino_t Inode = 0;
    std::string Name; // empty for what exists
};

bool operator==(const TIdentity& A, const TIdentity& B)
{
    return A.Known && B.Known && A.Device == B.Device && A.Inode == B.Inode && A.Name == B.Name;
}

TIdentity IdentityOf(const std::string& APath)
{
    struct stat status {};
    if (stat(APath.c_str(), &status) == 0)
        return {true, status.st_dev, status.st_ino, {}};
    bool exists = false;
    const std::optional<std::string> final = FollowLinks(WithoutTrailingSlashes(APath), status, exists);
    if (!final || exists || stat(FolderOf(*final).c_str(), &status) != 0)
        return {};
    return {true, status.st_dev, status.st_ino, NameOf(*final)};
}

// The folder APath's final place lies in.
TIdentity FolderIdentityOf(const std::string& APath)
{
    struct stat status {};
    bool exists = false;
    const std::optional<std::string> final = FollowLinks(WithoutTrailingSlashes(APath), status, exists);
    if (!final || stat(FolderOf(*final).c_str(), &status) != 0)
        return {};
    return {true, status.st_dev, status.st_ino, {}};
}

std::string Shown(const TNamedPath& APath)
{
    return APath.Role + " " + common::Quoted(APath.Path);
}

} // namespace

void RequireSeparateFiles(const std::vector<TNamedPath>& AInputs, const std::vector<TNamedPath>& AOutputs,
                          const TNamedPath* AOutputFolder, bool AStandardOutput)
{
    std::vector<TIdentity> outputs;
    for (const TNamedPath& output : AOutputs)
        outputs.push_back(IdentityOf(output.Path));
    const TIdentity folder = AOutputFolder ? IdentityOf(AOutputFolder->Path) : TIdentity{};

    for (std::size_t i = 0; i < AOutputs.size(); ++i) {
        for (const TNamedPath& input : AInputs)
            if (outputs[i] == IdentityOf(input.Path))
                throw common::EToolError(Shown(AOutputs[i]) + " is the same file as " + Shown(input));
        for (std::size_t j = 0; j < i; ++j)
            if (outputs[i] == outputs[j])
                throw common::EToolError(Shown(AOutputs[i]) + " is the same file as " + Shown(AOutputs[j]));
        if (AOutputFolder && folder.Name.empty() && FolderIdentityOf(AOutputs[i].Path) == folder)
            throw common::EToolError(Shown(AOutputs[i]) + " is inside the output folder " +
                                     common::Quoted(AOutputFolder->Path));
    }
    if (AOutputFolder) {
        if (folder.Name.empty())
            for (const TNamedPath& input : AInputs)
                if (FolderIdentityOf(input.Path) == folder)
                    throw common::EToolError(Shown(input) + " is inside the output folder " +
                                             common::Quoted(AOutputFolder->Path));
        for (std::size_t i = 0; i < AOutputs.size(); ++i)
            if (folder == outputs[i])
                throw common::EToolError(Shown(AOutputs[i]) + " is the same as the output folder " +
                                         common::Quoted(AOutputFolder->Path));
        for (const TNamedPath& input : AInputs)
            if (folder == IdentityOf(input.Path))
                throw common::EToolError(Shown(input) + " is the output folder " + common::Quoted(AOutputFolder->Path));
    }

    struct stat status {};
    if (AStandardOutput && fstat(STDOUT_FILENO, &status) == 0 &&
        (S_ISREG(status.st_mode) || S_ISFIFO(status.st_mode))) {
        const TIdentity standardOutput{true, status.st_dev, status.st_ino, {}};
        for (const TNamedPath& input : AInputs)
            if (standardOutput == IdentityOf(input.Path))
                throw common::EToolError("standard output is the same file as " + Shown(input));
        for (std::size_t i = 0; i < AOutputs.size(); ++i)
            if (standardOutput == outputs[i])
                throw common::EToolError("standard output is the same file as " + Shown(AOutputs[i]));
    }
}

} // namespace output
