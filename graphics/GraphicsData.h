// The attribute records of pens, brushes and fonts, and their hashes: what a pool entry is keyed
// by. The pools and the drawing surface both build on this header; it knows neither of them.
#pragma once

#include <windows.h>

#include "graphics/ACL.Graphics.h" // TColor

#include <cstddef>
#include <cstdint>

enum class TPenStyle : std::uint8_t { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };

// bsClear is the hollow style.
enum class TBrushStyle : std::uint8_t { bsSolid, bsClear };

enum class TFontPitch : std::uint8_t { fpDefault, fpVariable, fpFixed };

// Two pens (brushes, fonts) of one thread share a pool entry exactly when their records are
// equal. Handle is 0 in every record an attribute change makes; the GDI object lives in the
// entry, beside the record, and has Handle's type.
struct TPenData {
    HPEN Handle = nullptr;
    TColor Color = 0;       // black
    std::int32_t Width = 1; // pixels
    TPenStyle Style = TPenStyle::psSolid;
    bool operator==(const TPenData&) const = default;
};

struct TBrushData {
    HBRUSH Handle = nullptr;
    TColor Color = 0x00FFFFFF; // white
    HBITMAP Bitmap = nullptr;  // pattern bitmap; never set in this module
    TBrushStyle Style = TBrushStyle::bsSolid;
    bool OwnsBitmap = false; // the entry deletes Bitmap when it is freed
    bool operator==(const TBrushData&) const = default;
};

// The font is never selected by a drawing operation of this module; its record only has to
// exist, so it keeps to what a logical font needs first.
struct TFontData {
    HFONT Handle = nullptr;
    std::int32_t Height = 0; // GDI's default height
    TFontPitch Pitch = TFontPitch::fpDefault;
    std::uint8_t Style = 0;   // set of bold, italic, underline, strike-out; none
    std::uint8_t Charset = 1; // DEFAULT_CHARSET
    bool operator==(const TFontData&) const = default;
};

// The bitmap a record's entry owns and deletes with its GDI object; only a brush can own one.
inline HBITMAP OwnedBitmapOf(const TPenData&) noexcept
{
    return nullptr;
}
inline HBITMAP OwnedBitmapOf(const TBrushData& AData) noexcept
{
    return AData.OwnsBitmap ? AData.Bitmap : nullptr;
}
inline HBITMAP OwnedBitmapOf(const TFontData&) noexcept
{
    return nullptr;
}

namespace graphics_detail {

// FNV-1a over whole fields rather than bytes: the records have padding, so their bytes are not
// theirs to hash, and equal records must hash equally.
constexpr std::uint64_t HashSeed = 0xCBF29CE484222325ULL;

constexpr std::uint64_t Mix(std::uint64_t AHash, std::uint64_t AValue) noexcept
{
    return (AHash ^ AValue) * 0x100000001B3ULL;
}

inline std::uint64_t HandleBits(const void* AHandle) noexcept
{
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(AHandle));
}

} // namespace graphics_detail

// A hash of every field the record's equality compares; the pool mixes in the thread.
inline std::size_t ResourceHash(const TPenData& AData) noexcept
{
    using namespace graphics_detail;
    std::uint64_t h = Mix(HashSeed, HandleBits(AData.Handle));
    h = Mix(h, AData.Color);
    h = Mix(h, static_cast<std::uint32_t>(AData.Width));
    h = Mix(h, static_cast<std::uint64_t>(AData.Style));
    return static_cast<std::size_t>(h);
}

inline std::size_t ResourceHash(const TBrushData& AData) noexcept
{
    using namespace graphics_detail;
    std::uint64_t h = Mix(HashSeed, HandleBits(AData.Handle));
    h = Mix(h, AData.Color);
    h = Mix(h, HandleBits(AData.Bitmap));
    h = Mix(h, static_cast<std::uint64_t>(AData.Style));
    h = Mix(h, AData.OwnsBitmap ? 1u : 0u);
    return static_cast<std::size_t>(h);
}

inline std::size_t ResourceHash(const TFontData& AData) noexcept
{
    using namespace graphics_detail;
    std::uint64_t h = Mix(HashSeed, HandleBits(AData.Handle));
    h = Mix(h, static_cast<std::uint32_t>(AData.Height));
    h = Mix(h, static_cast<std::uint64_t>(AData.Pitch));
    h = Mix(h, AData.Style);
    h = Mix(h, AData.Charset);
    return static_cast<std::size_t>(h);
}
