// Frames drawn by the real Selvanore.dll on Wine's GDI: a cross-built helper runs under Wine,
// is sent each record and sends back the pixels (see WineProtocol.h).
#pragma once

#include "tools/lib/drive/Renderer.h"

#include <sys/types.h>

#include <vector>

namespace drive {

struct TWineRendererSetup {
    std::string Helper; // the cross-built selvanore-wine-helper.exe
    std::string Module; // Selvanore.dll
    std::int32_t Width = 0;
    std::int32_t Height = 0;
};

class TWineRenderer final : public TFrameRenderer {
public:
    // Starts the helper under wine and waits until it has the module ready; common::EToolError when
    // wine, the helper or the module cannot be started.
    explicit TWineRenderer(const TWineRendererSetup& ASetup);
    // Closes the helper's input, which ends it, and waits for it.
    ~TWineRenderer() override;
    TWineRenderer(const TWineRenderer&) = delete;
    TWineRenderer& operator=(const TWineRenderer&) = delete;

    const std::uint32_t* Render(std::int64_t AFrame, TAIMPVisualData& AData) override;
    void Resize(std::int32_t AWidth, std::int32_t AHeight) override;
    void Click(std::int32_t AX, std::int32_t AY, std::int32_t AButton) override;

private:
    void Send(const void* ABuffer, std::size_t ACount);

    void Stop() noexcept;

    pid_t FChild = -1;
    int FToHelper = -1;
    int FFromHelper = -1;
    std::vector<std::uint32_t> FPixels;
};

// Where Wine's own loader installs itself when no wine command is on PATH: Debian's wine64
// package puts its program there and nothing on PATH.
inline constexpr const char* WineLoaderFallbacks[] = {"/usr/lib/wine/wine64", "/usr/lib/wine/wine"};

// The Wine program that runs the helper: AWineLoader (the WINELOADER variable) when set, else
// wine or wine64 from the folders of ASearchPath (the PATH variable), else the first of
// WineLoaderFallbacks there is. common::EToolError when there is none.
std::string FindWineLoader(const char* ASearchPath, const char* AWineLoader);

// APath as Wine names it: the absolute path on drive Z:, with backslashes.
std::string WinePathOf(const std::string& APath);

} // namespace drive
