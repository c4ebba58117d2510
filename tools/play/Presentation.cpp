#include "tools/play/Presentation.h"

#include "tools/lib/common/ToolError.h"

#include <cstring>
#include <optional>

namespace play {

namespace {

constexpr std::uint32_t GlRenderer = 0x1F01; // GL_RENDERER, for glGetString

// The GL_RENDERER text of the context SDL's GL renderers make current; empty for a renderer
// that is not GL, or a driver that does not say.
std::string GlRendererText(const SDL_RendererInfo& AInfo)
{
    const std::string_view name = AInfo.name ? AInfo.name : "";
    if (name.substr(0, 6) != "opengl" || !SDL_GL_GetCurrentContext())
        return {};
    using TGetString = const unsigned char* (*)(std::uint32_t);
    const auto getString = reinterpret_cast<TGetString>(SDL_GL_GetProcAddress("glGetString"));
    const unsigned char* text = getString ? getString(GlRenderer) : nullptr;
    return text ? reinterpret_cast<const char*>(text) : "";
}

// The module's 0x00RRGGBB words are what SDL calls RGB888.
constexpr Uint32 ModuleFormat = SDL_PIXELFORMAT_RGB888;

class TTexturePresentation final : public TPresentation {
public:
    TTexturePresentation(SDL_Window* AWindow, TSdlRenderer ARenderer, std::string AName, bool AVsync)
        : FWindow(AWindow), FRenderer(std::move(ARenderer)), FVsync(AVsync)
    {
        FName = std::move(AName);
        if (!OutputSize(FWidth, FHeight))
            SDL_GetWindowSize(FWindow, &FWidth, &FHeight);
        FTexture = MakeTexture(FWidth, FHeight);
    }

    bool WaitsForRefresh() const noexcept override { return FVsync; }

    bool TakeNewSize() override
    {
        std::int32_t width = 0, height = 0;
        if (!OutputSize(width, height) || (width == FWidth && height == FHeight))
            return false;
        FTexture = MakeTexture(width, height);
        FWidth = width;
        FHeight = height;
        return true;
    }

    void Upload(const std::uint32_t* APixels) override
    {
        SDL_UpdateTexture(FTexture.get(), nullptr, APixels, FWidth * 4);
    }

    void Show() override
    {
        SDL_RenderClear(FRenderer.get());
        SDL_RenderCopy(FRenderer.get(), FTexture.get(), nullptr, nullptr);
        SDL_RenderPresent(FRenderer.get());
    }

private:
    bool OutputSize(std::int32_t& AWidth, std::int32_t& AHeight) const noexcept
    {
        return SDL_GetRendererOutputSize(FRenderer.get(), &AWidth, &AHeight) == 0 && AWidth > 0 && AHeight > 0;
    }

    TSdlTexture MakeTexture(std::int32_t AWidth, std::int32_t AHeight) const
    {
        TSdlTexture texture(
            SDL_CreateTexture(FRenderer.get(), ModuleFormat, SDL_TEXTUREACCESS_STREAMING, AWidth, AHeight));
        if (!texture)
            throw common::EToolError("cannot make a " + std::to_string(AWidth) + "x" + std::to_string(AHeight) +
                                     " picture in the window: " + SdlError());
        return texture;
    }

    SDL_Window* FWindow; // borrowed
    TSdlRenderer FRenderer;
    TSdlTexture FTexture;
    bool FVsync;
};

// The window's own surface: one copy of the frame into it, and SDL hands it to the display
// (under X, a shared-memory image). The surface belongs to the window; SDL makes a new one after
// a resize.
class TSurfacePresentation final : public TPresentation {
public:
    explicit TSurfacePresentation(SDL_Window* AWindow) : FWindow(AWindow)
    {
        FName = "window surface";
        if (!Surface())
            throw common::EToolError("no display: cannot draw in the window: " + SdlError());
        FWidth = FSurface->w;
        FHeight = FSurface->h;
    }

    bool WaitsForRefresh() const noexcept override { return false; }

    bool TakeNewSize() override
    {
        if (!Surface())
            throw common::EToolError("cannot make the window's picture anew: " + SdlError());
        if (FSurface->w == FWidth && FSurface->h == FHeight)
            return false;
        FWidth = FSurface->w;
        FHeight = FSurface->h;
        return true;
    }

    void Upload(const std::uint32_t* APixels) override
    {
        if (SDL_MUSTLOCK(FSurface) && SDL_LockSurface(FSurface) != 0)
            return;
        const std::size_t row = static_cast<std::size_t>(FWidth) * 4;
        if (FSurface->format->format == ModuleFormat && static_cast<std::size_t>(FSurface->pitch) == row)
            std::memcpy(FSurface->pixels, APixels, row * static_cast<std::size_t>(FHeight));
        else
            SDL_ConvertPixels(FWidth, FHeight, ModuleFormat, APixels, FWidth * 4, FSurface->format->format,
                              FSurface->pixels, FSurface->pitch);
        if (SDL_MUSTLOCK(FSurface))
            SDL_UnlockSurface(FSurface);
    }

    void Show() override { SDL_UpdateWindowSurface(FWindow); }

private:
    // The window's current surface (a new one after a resize); false when SDL has none.
    bool Surface() noexcept
    {
        FSurface = SDL_GetWindowSurface(FWindow);
        return FSurface && FSurface->w > 0 && FSurface->h > 0;
    }

    SDL_Window* FWindow;             // borrowed
    SDL_Surface* FSurface = nullptr; // the window's
};

std::string NameOf(const SDL_RendererInfo& AInfo)
{
    return std::string("texture (") + (AInfo.name ? AInfo.name : "unnamed renderer") + ")";
}

} // namespace

std::optional<TPresentationChoice> PresentationChoiceOf(std::string_view AText) noexcept
{
    if (AText == "auto")
        return TPresentationChoice::Automatic;
    if (AText == "texture")
        return TPresentationChoice::Texture;
    if (AText == "surface")
        return TPresentationChoice::Surface;
    return std::nullopt;
}

bool IsSoftwareGlRenderer(std::string_view ARenderer) noexcept
{
    for (const std::string_view rasterizer : {"llvmpipe", "softpipe", "swrast", "Software Rasterizer", "SwiftShader"})
        if (ARenderer.find(rasterizer) != std::string_view::npos)
            return true;
    return false;
}

std::unique_ptr<TPresentation> OpenPresentation(SDL_Window* AWindow, TPresentationChoice AChoice, bool AVsync)
{
    const Uint32 vsync = AVsync ? SDL_RENDERER_PRESENTVSYNC : 0;
    if (AChoice != TPresentationChoice::Surface) {
        TSdlRenderer renderer(SDL_CreateRenderer(AWindow, -1, SDL_RENDERER_ACCELERATED | vsync));
        SDL_RendererInfo info{};
        const bool accelerated = renderer && SDL_GetRendererInfo(renderer.get(), &info) == 0 &&
                                 (info.flags & SDL_RENDERER_ACCELERATED) != 0 &&
                                 std::string_view(info.name ? info.name : "") != "software" &&
                                 !IsSoftwareGlRenderer(GlRendererText(info));
        if (accelerated || (renderer && AChoice == TPresentationChoice::Texture)) {
            SDL_ShowWindow(AWindow);
            return std::make_unique<TTexturePresentation>(AWindow, std::move(renderer), NameOf(info), AVsync);
        }
    }
    if (AChoice != TPresentationChoice::Texture) {
        // Without the hint SDL would draw the window's surface through a renderer of its own,
        // which is the composition this path exists to avoid.
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        SDL_ShowWindow(AWindow);
        if (SDL_GetWindowSurface(AWindow))
            return std::make_unique<TSurfacePresentation>(AWindow);
        if (AChoice == TPresentationChoice::Surface)
            throw common::EToolError("no display: the window has no surface of its own to draw in: " + SdlError());
        // A video driver without surfaces of its own (SDL's Wayland driver): SDL's renderer.
        SDL_ResetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION);
    }
    TSdlRenderer renderer(SDL_CreateRenderer(AWindow, -1, SDL_RENDERER_SOFTWARE | vsync));
    if (!renderer)
        throw common::EToolError("no display: cannot draw in the window: " + SdlError());
    SDL_RendererInfo info{};
    SDL_GetRendererInfo(renderer.get(), &info);
    SDL_ShowWindow(AWindow);
    return std::make_unique<TTexturePresentation>(AWindow, std::move(renderer), NameOf(info), AVsync);
}

} // namespace play
