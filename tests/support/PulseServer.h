// A PulseAudio daemon of a test's own, with a null output, and the client side that points this
// process at it: nothing of the machine's own sound server or of the user's home is touched.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

struct pa_simple;

namespace testing_support {

// The null output's name; its monitor is the daemon's default source.
inline const char* const NullSink = "selvanore_test_sink";
// The rate of the null output, in samples per second per channel.
inline constexpr int NullSinkRate = 44100;

// A fresh folder under the system's temporary folder, removed with everything in it.
class TTempFolder {
public:
    explicit TTempFolder(const std::string& APrefix);
    ~TTempFolder();
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    const std::filesystem::path& Path() const noexcept { return FPath; }

private:
    std::filesystem::path FPath;
};

// Sets the variables by which this process's PulseAudio clients find their server for one
// scope, and puts back what was there before: PULSE_SERVER names AServer, and a client.conf and
// a cookie in AFolder keep the client from spawning a daemon or writing into the user's home.
// NOTE: the environment is the process's; no client may be running while one is made or undone.
class TClientEnvironment {
public:
    TClientEnvironment(const std::string& AServer, const std::filesystem::path& AFolder);
    ~TClientEnvironment();
    TClientEnvironment(const TClientEnvironment&) = delete;
    TClientEnvironment& operator=(const TClientEnvironment&) = delete;

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> FSaved;
};

// The daemon `pulseaudio` (from PATH), started with its own HOME, XDG_RUNTIME_DIR and
// configuration in a temporary folder, listening on a unix socket there, with module-null-sink
// as its only output and no autospawn, D-Bus or realtime scheduling. The constructor returns
// when the socket accepts connections, and throws std::runtime_error with the daemon's own
// reason when it cannot start. The destructor ends the daemon and removes the folder.
// The daemon runs as root when the tests do: it warns that it is not meant to, and serves.
class TPulseServer {
public:
    TPulseServer();
    ~TPulseServer();
    TPulseServer(const TPulseServer&) = delete;
    TPulseServer& operator=(const TPulseServer&) = delete;

    // The server's address as PULSE_SERVER takes it.
    std::string Address() const;
    // Kills the daemon at once, as a server that crashes.
    void Kill();
    // Stops and continues the daemon (SIGSTOP, SIGCONT): a server that accepts nothing and
    // sends nothing while stopped.
    void Pause();
    void Resume();
    // Runs `pactl` with AArgs against this server; its exit status.
    int Pactl(const std::vector<std::string>& AArgs) const;
    // What the daemon wrote to its standard error.
    std::string Log() const;

private:
    void WaitUntilServing();
    void End() noexcept;

    TTempFolder FFolder;
    std::filesystem::path FSocket;
    pid_t FPid = -1;
    bool FPaused = false;
    std::optional<TClientEnvironment> FClient;
};

// A playback stream into the default output through PulseAudio's simple API: two channels of
// floats at ARate, with a server-side buffer of about ABufferMilliseconds. Every failure is a
// std::runtime_error with PulseAudio's reason.
class TPlayback {
public:
    TPlayback(int ARate, int ABufferMilliseconds);
    ~TPlayback();
    TPlayback(const TPlayback&) = delete;
    TPlayback& operator=(const TPlayback&) = delete;

    // Writes interleaved frames; blocks while the server's buffer is full.
    void Write(const std::vector<float>& AFrames);
    // Waits until everything written has been played.
    void Drain();
    // How long what is written now waits before it is played, in microseconds.
    double LatencyMicroseconds();

private:
    pa_simple* FStream = nullptr;
};

// Plays a tone into the default output through PulseAudio's simple API: a sine of AFrequency Hz
// and peak AAmplitude on each channel (left, right), at ARate, for ASeconds. Blocks until the
// server has taken all of it; throws std::runtime_error with PulseAudio's reason.
struct TTone {
    double LeftFrequency;
    double LeftAmplitude;
    double RightFrequency;
    double RightAmplitude;
};
void PlayTone(const TTone& ATone, int ARate, double ASeconds);

} // namespace testing_support
