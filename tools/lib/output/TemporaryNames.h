// The temporary names of a run's outputs, and the removal of what ended runs left behind.
//
// An output is written under a temporary name beside its final place (or unnamed, where the
// file system has unnamed files) until the commit. The names say which run made them
// (RunTemporaryPrefix), so that a later run writing into the same folder removes what a run
// that no longer exists left there.
#pragma once

#include "tools/lib/output/Paths.h"

#include <string>

namespace output {

// The start of the temporary names this process gives: ".sv-PID-START-NAMESPACE-BOOT-", where
// START is when the process started (clock ticks since boot), NAMESPACE its pid namespace and
// BOOT the start of the boot's identifier. A pid alone is reused; with the rest it names one
// process. Empty when /proc does not tell these: the temporaries are then named ".sv-XXXXXX",
// and no later run can tell whose they are, so none removes them.
std::string RunTemporaryPrefix();

// A fresh temporary name in AFolder for this run, for a file that linkat or mkstemp then
// creates (mkstemp's Xs are left at the end when the run cannot be named).
std::string TemporaryTemplate(const std::string& AFolder);
// A fresh name in AFolder, for mkstemp or mkdtemp, where a replaced output waits while the file
// system cannot exchange two names. No later run removes these: a run killed between moving the
// old output aside and the new one into place leaves the old one there, and it is the user's to
// recover.
std::string AsideTemplate(const std::string& AFolder);
// Replaces the trailing Xs of ATemplate by random characters.
void FillUnique(std::string& ATemplate);
// An unnamed file in AFolder, which /proc can give a name later; none when the file system
// (or the kernel) has no unnamed files, or /proc cannot name them.
TDescriptor OpenUnnamed(const std::string& AFolder, mode_t AMode);
// Removes what a run that ended left in AFolder: its temporary files, and its temporary folders
// that hold nothing but PNG frames. Only entries of this user whose names follow the pattern
// exactly and whose run has verifiably ended; anything else stays as it is.
void RemoveRemnantsOfEndedRuns(const std::string& AFolder) noexcept;

} // namespace output
