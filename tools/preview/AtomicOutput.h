// Outputs that appear whole or not at all: everything is written under a temporary name beside
// the target and renamed onto it by Commit. Destroyed without a Commit (an error, a bad input
// found late), they remove what they wrote.
#pragma once

#include <cstdio>
#include <string>

namespace preview {

// One file.
class TAtomicFile {
public:
    // Creates the temporary file beside ATarget; EPreviewError when that folder cannot take it.
    explicit TAtomicFile(std::string ATarget);
    ~TAtomicFile();
    TAtomicFile(const TAtomicFile&) = delete;
    TAtomicFile& operator=(const TAtomicFile&) = delete;

    // The open temporary file (borrowed; closed by Commit or the destructor).
    std::FILE* Stream() const noexcept { return FStream; }
    const std::string& Target() const noexcept { return FTarget; }

    // Flushes, closes and renames onto the target; EPreviewError when any step fails.
    void Commit();

private:
    std::string FTarget;
    std::string FTemporary;
    std::FILE* FStream = nullptr;
    bool FCommitted = false;
};

// One folder of files. The target may exist: its files of the same names are replaced.
class TAtomicFolder {
public:
    explicit TAtomicFolder(std::string ATarget);
    ~TAtomicFolder();
    TAtomicFolder(const TAtomicFolder&) = delete;
    TAtomicFolder& operator=(const TAtomicFolder&) = delete;

    // The path under which a file named AName is written before the Commit.
    std::string PathOf(const std::string& AName) const { return FTemporary + "/" + AName; }
    const std::string& Target() const noexcept { return FTarget; }

    void Commit();

private:
    std::string FTarget;
    std::string FTemporary;
    bool FCommitted = false;
};

// "cannot write output 'APath': <the C library's text for errno>".
[[noreturn]] void ThrowWriteError(const std::string& APath);

} // namespace preview
