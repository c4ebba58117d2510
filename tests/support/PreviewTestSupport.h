// Helpers of the preview's tests: a scratch folder, a run of the program with its exit status
// and messages, generated sound files, and decoders of what it writes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

namespace testing_support {

// The native module that runs load; null when the build has none.
#ifdef PREVIEW_MODULE
inline const char* const ModuleUnderTest = PREVIEW_MODULE;
#else
inline const char* const ModuleUnderTest = nullptr;
#endif

// A fresh folder under the system's temporary folder, removed with everything in it.
class TScratch {
public:
    TScratch();
    ~TScratch();
    TScratch(const TScratch&) = delete;
    TScratch& operator=(const TScratch&) = delete;

    const std::filesystem::path& Path() const noexcept { return FPath; }
    std::string operator/(const std::string& AName) const { return (FPath / AName).string(); }
    // The names of the folder's entries, sorted.
    std::vector<std::string> Entries() const;

private:
    std::filesystem::path FPath;
};

struct TRun {
    int Status = -1; // exit status; -1 when the program did not exit normally
    std::string Out; // standard output
    std::string Err; // standard error
};

// Runs the preview with AArgs in the folder AWorkingDir, standard output and error captured.
TRun RunPreview(const std::vector<std::string>& AArgs, const std::filesystem::path& AWorkingDir);

// Where a run's standard output goes.
enum class TStdout {
    Captured, // into TRun::Out
    Full,     // /dev/full: every write fails with ENOSPC
    Closed,   // no descriptor 1 at all
};

// How the process of a run is set up beyond its arguments.
struct TRunSetup {
    TStdout Stdout = TStdout::Captured;
    int LimitedResource = -1; // RLIMIT_AS or RLIMIT_DATA set to LimitBytes; -1: none
    std::uint64_t LimitBytes = 0;
    std::vector<std::string> Environment; // "NAME=value", added to the test's own
};

// RunPreview in a process set up as ASetup says.
TRun RunPreviewWith(const TRunSetup& ASetup, const std::vector<std::string>& AArgs,
                    const std::filesystem::path& AWorkingDir);

// The tests' usual song: a 16-bit stereo WAV of ASeconds at 8 kHz, a 440 Hz tone on the left
// and a 110 Hz one on the right, at 0.6 of full scale.
void WriteSong(const std::string& APath, double ASeconds);

// Writes a 16-bit PCM WAV of AChannels channels and AFrames samples per channel; ASample gives
// the value of channel c at sample i, in -1..1.
void WriteWav(const std::string& APath, int ARate, int AChannels, std::int64_t AFrames,
              const std::function<double(int, std::int64_t)>& ASample);

// Writes APath in libsndfile's AFormat (SF_FORMAT_OGG | SF_FORMAT_VORBIS, ...) from doubles in
// -1..1; std::runtime_error, with libsndfile's reason, when this libsndfile cannot.
void WriteSound(const std::string& APath, int AFormat, int ARate, int AChannels, std::int64_t AFrames,
                const std::function<double(int, std::int64_t)>& ASample);

// Songs whose float samples are out of range or not numbers, in 10 ms runs (at ARate) that take
// turns with a tone's runs: the bad runs hold +inf and -inf (Infinity), NaN (NotANumber), 1.5 and
// -3 (Beyond), or a mix of those with exactly 1.0 and -1.0 between them, which are in range
// (Mix). The channels' runs are out of step, and a third channel, if any, is NaN throughout.
enum class TUnclean { Infinity, NotANumber, Beyond, Mix };
double UncleanSample(TUnclean AKind, int ARate, int AChannel, std::int64_t AIndex);
// What the tools must make of a sample that a float or double file holds: the float, with NaN as
// 0 and values beyond -1..1 clipped to it; and whether that changed it.
float CleanedSample(double AStored);
bool NeedsCleaning(double AStored);
// The warning a run with ACount cleaned samples of AName prints, without the program's name.
std::string CleanedWarning(std::int64_t ACount, const std::string& AName);

// Samples per channel that libsndfile claims when it opens APath, and that actually decode
// before the end or the first error; -1 when it does not open.
std::int64_t ClaimedLength(const std::string& APath);
std::int64_t DecodedLength(const std::string& APath);

// The bytes of a file; empty when it cannot be read.
std::string ReadBytes(const std::string& APath);

struct TImage {
    int Width = 0;
    int Height = 0;
    std::vector<std::uint32_t> Pixels; // 0x00RRGGBB, top row first
};

// Decodes an 8-bit RGB or RGBA PNG; an empty image when it is not one.
TImage ReadPng(const std::string& APath);

struct TGif {
    int Width = 0;
    int Height = 0;
    std::vector<TImage> Frames; // each frame's own rectangle, decoded through its colour map
    std::vector<int> Delays;    // hundredths of a second
    // What a viewer shows at each frame: the screen, with each image drawn over what the one
    // before it left (its transparent pixels leave what was there, and its disposal is followed).
    // A pixel that no image has covered yet is NotCovered.
    std::vector<TImage> Composed;
    bool Ok = false;
};
inline constexpr std::uint32_t NotCovered = 0xFF000000u;
TGif ReadGif(const std::string& APath);

// The lines of a text file, without their newlines.
std::vector<std::string> ReadLines(const std::string& APath);

} // namespace testing_support

// Runs of the program set up as the outputs and signals tests need them: a chosen standard
// output, a file-size limit, a signal sent while it runs, and a look at the whole folder tree
// before and after.
namespace testing_support {

struct TChildSetup {
    std::string Program; // the program to run; empty: the preview
    std::vector<std::string> Args;
    std::filesystem::path WorkingDir;
    std::string StandardOutput;        // a file opened as standard output, kept as it is; empty: captured
    int StandardOutputDescriptor = -1; // a descriptor to use as standard output (a pipe's end)
    bool CloseStandardOutput = false;  // start with descriptor 1 closed
    long long FileSizeLimit = -1;      // RLIMIT_FSIZE in bytes; negative: unchanged
    int LimitedResource = -1;          // RLIMIT_AS or RLIMIT_DATA set to LimitBytes; -1: none
    std::uint64_t LimitBytes = 0;
    std::vector<std::string> Environment; // "NAME=value", added to the test's own
};

struct TEnded {
    int Status = -1;       // exit status; -1 when it did not exit
    int Signal = 0;        // the signal that ended it, if one did
    bool TimedOut = false; // still running at the deadline, then killed
    double Seconds = 0;    // from the start, or from the last Signal call, to the end
    std::string Out;       // standard output, when captured
    std::string Err;
};

// The program running in the background. Ending signals start at their default action in it,
// whatever the test runner inherited.
class TRunningPreview {
public:
    explicit TRunningPreview(const TChildSetup& ASetup);
    // Kills and reaps a child still running.
    ~TRunningPreview();
    TRunningPreview(const TRunningPreview&) = delete;
    TRunningPreview& operator=(const TRunningPreview&) = delete;

    // Sends ASignal and restarts the clock that Wait reports.
    void Signal(int ASignal);
    // Waits up to ASeconds for the end; kills it past that.
    TEnded Wait(double ASeconds);
    pid_t Pid() const noexcept { return FChild; }

private:
    TScratch FStreams;
    pid_t FChild = -1;
    bool FOutCaptured = true;
    double FStart = 0;
};

// Runs to the end (at most 300 seconds, then killed).
TEnded RunToEnd(const TChildSetup& ASetup);

// Polls ACondition every 10 ms for up to ASeconds; whether it came true.
bool WaitUntil(const std::function<bool()>& ACondition, double ASeconds);

// What a folder tree holds, by path relative to its root: each entry's kind, and a regular
// file's bytes or a link's target, so that two looks compare byte for byte.
using TTree = std::map<std::string, std::string>;
TTree LookAt(const std::filesystem::path& ARoot);
// The paths whose entries differ between two looks, each with how.
std::vector<std::string> DifferencesBetween(const TTree& ABefore, const TTree& AAfter);
// Whether any entry under ARoot has a temporary name of the preview (".sv-").
// Whether process APid has a handler of ASignal installed (its SigCgt in /proc): it has come far
// enough that the signal reaches its handler rather than the default action.
bool CatchesSignal(pid_t APid, int ASignal);

bool HoldsTemporaries(const std::filesystem::path& ARoot);

// Whether process APid is writing an output under ARoot: a temporary is there, or it holds a
// file open there that has no name yet.
bool WritesUnder(pid_t APid, const std::filesystem::path& ARoot);

// Whether AErr is exactly one line, "selvanore-preview: " and a message.
bool IsOneLineError(const std::string& AErr);

} // namespace testing_support
