// Frames drawn in this process: the module is loaded here and draws on a 32-bit top-down DIB
// section selected into a memory context of the Win32 stand-in.
#pragma once

#include "tools/lib/drive/DibSurface.h"
#include "tools/lib/drive/ModuleHost.h"
#include "tools/lib/drive/Renderer.h"
#include "tools/lib/drive/Trace.h"

#include <memory>
#include <optional>

namespace drive {

class TNativeRenderer final : public TFrameRenderer {
public:
    explicit TNativeRenderer(const TNativeRendererSetup& ASetup);

    const std::uint32_t* Render(std::int64_t AFrame, TAIMPVisualData& AData) override;
    // A new surface of the new extents replaces the old one before the module hears of them.
    // common::EToolError with a trace, which records the calls on one context only.
    void Resize(std::int32_t AWidth, std::int32_t AHeight) override;
    void Click(std::int32_t AX, std::int32_t AY, std::int32_t AButton) override;

    // The trace writer (borrowed); null without --trace.
    TTraceWriter* Trace() noexcept { return FTrace ? &*FTrace : nullptr; }

private:
    // Declared in this order so that the module is unloaded before the context goes, and the
    // trace stops before either. Never null.
    std::unique_ptr<TDibSurface> FSurface;
    TModuleHost FHost;
    std::optional<TTraceWriter> FTrace;
};

} // namespace drive
