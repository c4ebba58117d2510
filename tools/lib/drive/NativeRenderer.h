// Frames drawn in this process: the module is loaded here and draws on a 32-bit top-down DIB
// section selected into a memory context of the Win32 stand-in.
#pragma once

#include "tools/lib/drive/DrawingArea.h"
#include "tools/lib/drive/Renderer.h"
#include "tools/lib/drive/Trace.h"

#include <optional>

namespace drive {

class TNativeRenderer final : public TFrameRenderer {
public:
    explicit TNativeRenderer(const TNativeRendererSetup& ASetup);

    const std::uint32_t* Render(std::int64_t AFrame, TAIMPVisualData& AData) override;
    // As TDrawingArea::Resize; common::EToolError with a trace, which records the calls on one
    // context only.
    void Resize(std::int32_t AWidth, std::int32_t AHeight) override;
    void Click(std::int32_t AX, std::int32_t AY, std::int32_t AButton) override;

    // The trace writer (borrowed); null without --trace.
    TTraceWriter* Trace() noexcept { return FTrace ? &*FTrace : nullptr; }

private:
    // Declared in this order so that the trace stops before the module and its surface go.
    TDrawingArea FArea;
    std::optional<TTraceWriter> FTrace;
};

} // namespace drive
