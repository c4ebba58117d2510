// The check, made before a run opens anything, that no output of the command line is one of its
// inputs or another of its outputs.
#pragma once

#include <string>
#include <vector>

namespace output {

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
