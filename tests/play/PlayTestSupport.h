// Helpers of selvanore-play's tests: an X server of the test's own, its screen as an image, and
// the files a run leaves (the disk audio driver's samples).
#pragma once

#include "tests/support/PreviewTestSupport.h"

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_support {

// An Xvfb server on a display number nobody uses, its screen kept as an XWD file in a folder of
// its own; stopped on destruction.
class TXvfb {
public:
    // Starts it with a screen of AWidth x AHeight at 24 bits and waits until it takes
    // connections. Ok() says whether that worked; Reason() says why not.
    TXvfb(int AWidth, int AHeight);
    ~TXvfb();
    TXvfb(const TXvfb&) = delete;
    TXvfb& operator=(const TXvfb&) = delete;

    bool Ok() const noexcept { return FReason.empty(); }
    const std::string& Reason() const noexcept { return FReason; }
    // ":N", for DISPLAY.
    const std::string& Display() const noexcept { return FDisplay; }
    // The screen now; an empty image when the file cannot be read.
    testing_support::TImage Screen() const;
    // Ends the server with ASignal, as a crash (SIGKILL) or a shutdown (SIGTERM) would, and
    // waits for it: its clients lose their connection.
    void Kill(int ASignal);

private:
    testing_support::TScratch FFolder;
    pid_t FServer = -1;
    std::string FDisplay;
    std::string FReason;
};

// Decodes an XWD file of a 24- or 32-bit TrueColor ZPixmap; an empty image otherwise.
testing_support::TImage ReadXwd(const std::string& APath);

// The floats of a raw file in the machine's byte order (what SDL's disk driver writes for
// AUDIO_F32SYS).
std::vector<float> ReadFloats(const std::string& APath);

// A run of selvanore-play with AArgs in AWorkingDir, AEnvironment ("NAME=value") added.
testing_support::TChildSetup ChildSetup(std::vector<std::string> AArgs, const std::filesystem::path& AWorkingDir,
                                        std::vector<std::string> AEnvironment);

// Whether AErr is exactly one line, "selvanore-play: " and a message.
bool IsPlayOneLineError(const std::string& AErr);

// AErr without the lines of SDL's disk audio driver ("CRITICAL: ..."), which it writes whenever
// it opens.
std::string WithoutDiskDriverNotes(const std::string& AErr);

} // namespace testing_support
