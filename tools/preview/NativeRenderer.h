// Frames drawn in this process: the module is loaded here and draws on a 32-bit top-down DIB
// section selected into a memory context of the Win32 stand-in.
#pragma once

#include "tools/preview/DibSurface.h"
#include "tools/preview/ModuleHost.h"
#include "tools/preview/Renderer.h"
#include "tools/preview/Trace.h"

#include <optional>

namespace preview {

class TNativeRenderer final : public TFrameRenderer {
public:
    explicit TNativeRenderer(const TNativeRendererSetup& ASetup);

    const std::uint32_t* Render(std::int64_t AFrame, TAIMPVisualData& AData) override;

    // The trace writer (borrowed); null without --trace.
    TTraceWriter* Trace() noexcept { return FTrace ? &*FTrace : nullptr; }

private:
    // Declared in this order so that the module is unloaded before the context goes, and the
    // trace stops before either.
    TDibSurface FSurface;
    TModuleHost FHost;
    std::optional<TTraceWriter> FTrace;
};

} // namespace preview
