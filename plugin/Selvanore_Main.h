// The plug-in's own unit: the visualization object and the plug-in class that registers it.
#pragma once

#include "graphics/Graphics.h"
#include "host/apiPlugin.h"
#include "host/apiSlots.h"
#include "host/apiVisuals.h"
#include "host/apiWrappers.h"
#include "plugin/AIMPCustomPlugin.h"
#include "plugin/Rings.h"
#include "rtl/ComPtr.h"
#include "rtl/InterfacedObject.h"

#include <cstdint>
#include <memory>

// The wave-ring visualization: the one object through which the player draws. The player's
// references alone decide how long it lives.
//
// The operations below follow the player's interface one to one and raise as the access layer
// and the surface raise; the player reaches them through the interface's producer
// (host/apiSlots.h), which contains every exception, so none crosses into the player.
class TVisualization : public TImplements<TVisualization, TInterfacedObject, IAIMPExtensionEmbeddedVisualization> {
public:
    TVisualization() = default;

    // The display name, also the plug-in's name.
    static constexpr const TAIMPChar* Name = AIMP_TEXT("Selvanore");
    static constexpr std::int32_t NameLength = 9;

    std::int32_t GetFlags() const noexcept;
    // Writes neither output: the visualization has no maximum size.
    HRESULT GetMaxDisplaySize(std::int32_t& Width, std::int32_t& Height) const noexcept;
    // Returns the name as a new player string, with the one reference the caller receives.
    rtl::TComPtr<IAIMPString> GetName() const;
    HRESULT Initialize(std::int32_t Width, std::int32_t Height);
    void Finalize() noexcept;
    void Click(std::int32_t X, std::int32_t Y, std::int32_t Button) noexcept;
    // Captures a ring when due and draws one frame on DC; the context is detached again on
    // every path. Data may be null on the frames that do not capture.
    void Draw(HDC DC, const TAIMPVisualData* Data);
    void Resize(std::int32_t NewWidth, std::int32_t NewHeight) noexcept;

    // State, for tests and the player's own diagnostics. Borrowed; null outside Initialize/Finalize.
    const TCanvas* Canvas() const noexcept { return FCanvas.get(); }
    std::int32_t Width() const noexcept { return FWidth; }
    std::int32_t Height() const noexcept { return FHeight; }
    std::int32_t CenterX() const noexcept { return OX; }
    std::int32_t CenterY() const noexcept { return OY; }
    std::int32_t FrameTimeOut() const noexcept { return TimeOut; }
    std::int32_t NextSlot() const noexcept { return ArrNumb; }
    const TPointsArray& History() const noexcept { return PointsArray; }

protected:
    ~TVisualization() override = default;

private:
    std::unique_ptr<TCanvas> FCanvas; // owned from Initialize to Finalize
    std::int32_t FWidth = 0;          // drawing area, as the player last gave it
    std::int32_t FHeight = 0;
    std::int32_t OX = 0; // centre: FWidth div 2, truncated toward zero
    std::int32_t OY = 0;
    std::int32_t TimeOut = 0;   // frames since the last capture, modulo 5
    std::int32_t ArrNumb = 0;   // next slot of the history, 0 to 30
    TPointsArray PointsArray{}; // depth in pixels before perspective, one value per ring
    std::uint8_t FHue = 0;      // kept as the player's record of it; nothing reads it
};

// The plug-in object: names the plug-in, holds the player's core and registers one visualization
// per Initialize.
class TVisualPlugin : public TAIMPCustomPlugin {
public:
    TVisualPlugin() = default;

    const TAIMPChar* GetInfo(std::int32_t Index) override;
    DWORD GetCategories() override;
    HRESULT Initialize(IAIMPCore* Core) override;

protected:
    ~TVisualPlugin() override = default;
};
