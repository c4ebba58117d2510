#include "tools/play/Sdl.h"

#include "tools/preview/PreviewError.h"

namespace play {

std::string SdlError()
{
    std::string text = SDL_GetError();
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text.empty() ? "unknown error" : text;
}

TSdlSubsystems::TSdlSubsystems(Uint32 AFlags, const std::string& AWhat) : FFlags(AFlags)
{
    if (SDL_InitSubSystem(AFlags) != 0)
        throw preview::EPreviewError(AWhat + ": " + SdlError());
}

TSdlSubsystems::~TSdlSubsystems()
{
    SDL_QuitSubSystem(FFlags);
}

TSdlAudioDevice::~TSdlAudioDevice()
{
    if (FDevice != 0)
        SDL_CloseAudioDevice(FDevice);
}

} // namespace play
