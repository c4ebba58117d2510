#include "tools/play/Sdl.h"

#include "tools/lib/common/Interrupt.h"
#include "tools/lib/common/ToolError.h"

#include <X11/Xlib.h>

#include <cstring>

namespace play {

namespace {

// Xlib's handler before TLostDisplayHandler's; Xlib keeps one for the whole process.
XIOErrorHandler PreviousHandler = nullptr;

extern "C" int OnLostDisplay(Display* ADisplay)
{
    // Ordinary code may run here (Xlib calls it outside any signal handler), but nothing may
    // call Xlib on the lost connection again.
    const char* name = ADisplay ? DisplayString(ADisplay) : nullptr;
    std::string message = "lost the display";
    if (name && *name)
        message += " " + common::Quoted(name);
    message += ": the X server has gone away";
    common::EndProcessNow(message.c_str(), common::ExitBadInput);
}

} // namespace

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
        throw common::EToolError(AWhat + ": " + SdlError());
}

TSdlSubsystems::~TSdlSubsystems()
{
    SDL_QuitSubSystem(FFlags);
}

TLostDisplayHandler::TLostDisplayHandler() noexcept
{
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver || std::strcmp(driver, "x11") != 0)
        return;
    PreviousHandler = XSetIOErrorHandler(&OnLostDisplay);
    FInstalled = true;
}

TLostDisplayHandler::~TLostDisplayHandler()
{
    if (FInstalled)
        XSetIOErrorHandler(PreviousHandler);
}

TSdlAudioDevice::~TSdlAudioDevice()
{
    if (FDevice != 0)
        SDL_CloseAudioDevice(FDevice);
}

} // namespace play
