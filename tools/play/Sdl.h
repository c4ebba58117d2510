// One owner per kind of SDL resource, so that every path out of a run, errors included, gives
// back what it took: the subsystems, the window, its renderer and texture, the audio device.
#pragma once

#include <SDL.h>

#include <memory>
#include <string>

namespace play {

// SDL_GetError's text, for a one-line message.
std::string SdlError();

// SDL's subsystems AFlags, shut down on destruction. common::EToolError "AWhat: <SDL's reason>"
// when they cannot start.
class TSdlSubsystems {
public:
    TSdlSubsystems(Uint32 AFlags, const std::string& AWhat);
    ~TSdlSubsystems();
    TSdlSubsystems(const TSdlSubsystems&) = delete;
    TSdlSubsystems& operator=(const TSdlSubsystems&) = delete;

private:
    Uint32 FFlags;
};

// While alive, and when SDL draws through X11: a connection to the X server that is lost (the
// server ended, the network went away) ends the process at once with the one line "lost the
// display ..." and status 2, the temporaries removed, instead of Xlib's own lines and exit(1).
// NOTE: Xlib gives no way back from a lost connection; it ends the process when its handler
// returns, so the handler never does.
class TLostDisplayHandler {
public:
    TLostDisplayHandler() noexcept;
    ~TLostDisplayHandler();
    TLostDisplayHandler(const TLostDisplayHandler&) = delete;
    TLostDisplayHandler& operator=(const TLostDisplayHandler&) = delete;

private:
    bool FInstalled = false; // Xlib's handler before is put back on destruction
};

struct TWindowCloser {
    void operator()(SDL_Window* AWindow) const noexcept { SDL_DestroyWindow(AWindow); }
};
struct TRendererCloser {
    void operator()(SDL_Renderer* ARenderer) const noexcept { SDL_DestroyRenderer(ARenderer); }
};
struct TTextureCloser {
    void operator()(SDL_Texture* ATexture) const noexcept { SDL_DestroyTexture(ATexture); }
};
using TSdlWindow = std::unique_ptr<SDL_Window, TWindowCloser>;
using TSdlRenderer = std::unique_ptr<SDL_Renderer, TRendererCloser>;
using TSdlTexture = std::unique_ptr<SDL_Texture, TTextureCloser>;

// An open audio device, closed on destruction (which also waits for a callback under way).
class TSdlAudioDevice {
public:
    TSdlAudioDevice() noexcept = default;
    explicit TSdlAudioDevice(SDL_AudioDeviceID ADevice) noexcept : FDevice(ADevice) {}
    ~TSdlAudioDevice();
    TSdlAudioDevice(const TSdlAudioDevice&) = delete;
    TSdlAudioDevice& operator=(const TSdlAudioDevice&) = delete;

    SDL_AudioDeviceID Get() const noexcept { return FDevice; }

private:
    SDL_AudioDeviceID FDevice = 0;
};

} // namespace play
