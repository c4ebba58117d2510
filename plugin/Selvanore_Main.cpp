#include "plugin/Selvanore_Main.h"

// --- TVisualization ---

namespace {

constexpr std::int32_t CaptureInterval = 5;

// Detaches the surface from the player's context on every path out of a frame.
class TDetachGuard {
public:
    explicit TDetachGuard(TCanvas& ACanvas) noexcept : FCanvas(ACanvas) {}
    TDetachGuard(const TDetachGuard&) = delete;
    TDetachGuard& operator=(const TDetachGuard&) = delete;
    ~TDetachGuard() { FCanvas.SetHandle(nullptr); } // detaching cannot fail

private:
    TCanvas& FCanvas;
};

} // namespace

std::int32_t TVisualization::GetFlags() const noexcept
{
    return AIMP_VISUAL_FLAGS_RQD_DATA_WAVE;
}

HRESULT TVisualization::GetMaxDisplaySize(std::int32_t&, std::int32_t&) const noexcept
{
    return E_FAIL;
}

rtl::TComPtr<IAIMPString> TVisualization::GetName() const
{
    return NewHostString(Name, NameLength);
}

HRESULT TVisualization::Initialize(std::int32_t Width, std::int32_t Height)
{
    // A second Initialize without Finalize replaces, and so frees, the first surface.
    FCanvas = std::make_unique<TCanvas>();
    Resize(Width, Height);
    FHue = 0;
    ArrNumb = 0;
    return S_OK;
}

void TVisualization::Finalize() noexcept
{
    std::unique_ptr<TCanvas> canvas = std::move(FCanvas);
    canvas.reset();
}

void TVisualization::Click(std::int32_t, std::int32_t, std::int32_t) noexcept {}

void TVisualization::Draw(HDC DC, const TAIMPVisualData* Data)
{
    // Without a surface (before Initialize, after Finalize) there is nothing to draw with, and
    // the frame leaves the capture rhythm and the history as they are.
    if (!FCanvas)
        return;
    // A null block on a capture frame captures nothing; the frame is still drawn.
    if (TimeOut == 0 && Data)
        CaptureRing(PointsArray, ArrNumb, *Data);
    TimeOut = (TimeOut + 1) % CaptureInterval;

    FCanvas->SetHandle(DC);
    TDetachGuard detach(*FCanvas);
    RenderRings(PointsArray, *FCanvas, FWidth, FHeight, OX, OY);
}

void TVisualization::Resize(std::int32_t NewWidth, std::int32_t NewHeight) noexcept
{
    FHeight = NewHeight;
    FWidth = NewWidth;
    OX = NewWidth / 2;
    OY = NewHeight / 2;
}

// --- TVisualPlugin ---

namespace {

constexpr const TAIMPChar* PluginAuthor = AIMP_TEXT("Vashkelt");
constexpr const TAIMPChar* EmptyText = AIMP_TEXT("");

} // namespace

const TAIMPChar* TVisualPlugin::GetInfo(std::int32_t Index)
{
    switch (Index) {
    case AIMP_PLUGIN_INFO_NAME: return TVisualization::Name;
    case AIMP_PLUGIN_INFO_AUTHOR: return PluginAuthor;
    default: return EmptyText;
    }
}

DWORD TVisualPlugin::GetCategories()
{
    return AIMP_PLUGIN_CATEGORY_VISUALS;
}

HRESULT TVisualPlugin::Initialize(IAIMPCore* Core)
{
    const HRESULT result = TAIMPCustomPlugin::Initialize(Core);
    // The visualization belongs to the player once registered; the plug-in keeps no reference.
    // The registration's own reference keeps it alive; this temporary one is dropped again.
    const rtl::TComPtr<TVisualization> visualization = Make<TVisualization>();
    if (Core)
        Core->AddExtension(IID_VisualizationService, static_cast<IUnknown*>(visualization.Get()));
    return result;
}
