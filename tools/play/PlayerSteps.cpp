#include "tools/play/PlayerSteps.h"

#include "tools/lib/output/AtomicFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace play {

double SecondsBetween(TClock::time_point AFrom, TClock::time_point ATo) noexcept
{
    return std::chrono::duration<double>(ATo - AFrom).count();
}

// ---- Pacing ----

TFramePacing::TFramePacing(double ARate, TPacedBy APacedBy, TClock::time_point ANow) noexcept
    : FRate(ARate), FPeriod(std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(1.0 / ARate))),
      FPaced(APacedBy == TPacedBy::Player), FNextDue(ANow)
{}

int TFramePacing::WaitMs(TClock::time_point ANow) const noexcept
{
    if (ANow >= FNextDue)
        return 0;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(FNextDue - ANow).count();
    return wait < 1 ? 0 : static_cast<int>(std::min<std::int64_t>(wait, LongestWaitMs));
}

int TFramePacing::RestingWaitMs(TResting AResting) const noexcept
{
    return AResting == TResting::Paused ? LongestWaitMs : std::clamp(static_cast<int>(1000 / FRate), 1, LongestWaitMs);
}

void TFramePacing::Shown(TClock::time_point AShown) noexcept
{
    if (!FPaced) {
        FQuickPresents = AShown - FLastShown < FPeriod / 2 ? FQuickPresents + 1 : 0;
        FPaced = FQuickPresents >= 10;
        FLastShown = AShown;
    }
    FNextDue = std::max(FNextDue + FPeriod, AShown);
}

void TFramePacing::Resync(TClock::time_point ANow) noexcept
{
    FNextDue = ANow;
}

// ---- Slots ----

std::int64_t TFrameSlots::Shown(TClock::time_point AShown) noexcept
{
    if (!FCounting) {
        FCounting = true;
        FOrigin = AShown;
        FLastSlot = 0;
        return 0;
    }
    const auto slot = static_cast<std::int64_t>(std::llround(SecondsBetween(FOrigin, AShown) * FRate));
    const std::int64_t dropped = slot > FLastSlot + 1 ? slot - FLastSlot - 1 : 0;
    FLastSlot = std::max(slot, FLastSlot + 1);
    return dropped;
}

// ---- Idleness ----

bool TIdleness::PassesBy(TBlockSound ABlock) noexcept
{
    if (FIdle && ABlock == TBlockSound::Silent)
        return true;
    FIdle = false;
    return false;
}

bool TIdleness::Shows(const std::uint32_t* APixels, std::size_t ACount, TBlockSound ABlock)
{
    if (ABlock == TBlockSound::Sounding) {
        FUnchanged = 0;
        FSettled.clear();
        return true;
    }
    if (FSettled.size() == ACount && std::equal(FSettled.begin(), FSettled.end(), APixels)) {
        // The rings may still move by less than a pixel a frame, or wait for the next capture:
        // only a long run of equal pictures means they have come to rest.
        if (++FUnchanged >= SettleFrames) {
            FIdle = true;
            return false;
        }
    } else {
        FUnchanged = 0;
        FSettled.assign(APixels, APixels + ACount);
    }
    return true;
}

void TIdleness::Wake() noexcept
{
    FIdle = false;
    FUnchanged = 0;
    FSettled.clear();
}

// ---- Events ----

TPlayEvent EventOf(const SDL_Event& AEvent) noexcept
{
    switch (AEvent.type) {
    case SDL_QUIT: return {TPlayAction::Quit};
    case SDL_KEYDOWN:
        switch (AEvent.key.keysym.sym) {
        case SDLK_q:
        case SDLK_ESCAPE: return {TPlayAction::Quit};
        case SDLK_f: return {TPlayAction::ToggleFullScreen};
        case SDLK_SPACE: return {TPlayAction::TogglePause};
        default: return {};
        }
    case SDL_WINDOWEVENT:
        switch (AEvent.window.event) {
        case SDL_WINDOWEVENT_SIZE_CHANGED: return {TPlayAction::Resized};
        case SDL_WINDOWEVENT_CLOSE: return {TPlayAction::Quit};
        case SDL_WINDOWEVENT_EXPOSED: return {TPlayAction::Exposed};
        default: return {};
        }
    case SDL_MOUSEBUTTONDOWN:
        if (AEvent.button.clicks == 2 && AEvent.button.button == SDL_BUTTON_LEFT)
            return {TPlayAction::ToggleFullScreen};
        if (AEvent.button.clicks == 1)
            return {TPlayAction::Click, AEvent.button.x, AEvent.button.y, ModuleButtonOf(AEvent.button.button)};
        return {};
    default: return {};
    }
}

std::int32_t ModuleButtonOf(Uint8 AButton) noexcept
{
    switch (AButton) {
    case SDL_BUTTON_LEFT: return 0;
    case SDL_BUTTON_RIGHT: return 1;
    case SDL_BUTTON_MIDDLE: return 2;
    default: return static_cast<std::int32_t>(AButton) - 1;
    }
}

std::int32_t ScaledToArea(int AAt, int AFrom, std::int32_t ATo) noexcept
{
    return AFrom > 0 ? static_cast<std::int32_t>(std::int64_t{AAt} * ATo / AFrom) : AAt;
}

// ---- The report ----

void TFrameTally::Drawn(const TFrameCosts& ACosts, double ALagMs) noexcept
{
    FCostSums.Draw += ACosts.Draw;
    FCostSums.Upload += ACosts.Upload;
    FCostSums.Present += ACosts.Present;
    FLastLagMs = ALagMs;
    FLagSum += ALagMs;
    FFigures.MaxOffsetMs = std::max(FFigures.MaxOffsetMs, ALagMs);
    ++FFigures.FramesDrawn;
}

TPlayFigures TFrameTally::Finish(double ASeconds, double ACpuSeconds, std::int64_t ACleanedSamples) const noexcept
{
    TPlayFigures figures = FFigures;
    figures.CleanedSamples = ACleanedSamples;
    figures.Seconds = ASeconds;
    figures.CpuSeconds = ACpuSeconds;
    if (figures.FramesDrawn > 0) {
        const double frameCount = static_cast<double>(figures.FramesDrawn);
        figures.MeanOffsetMs = FLagSum / frameCount;
        figures.DrawCpuMs = FCostSums.Draw * 1000.0 / frameCount;
        figures.UploadCpuMs = FCostSums.Upload * 1000.0 / frameCount;
        figures.PresentCpuMs = FCostSums.Present * 1000.0 / frameCount;
    }
    return figures;
}

std::string ReportJson(const TPlayFigures& AFigures)
{
    char text[512];
    std::snprintf(text, sizeof text,
                  "{\"frames_drawn\": %lld, \"frames_dropped\": %lld, \"seconds\": %.3f, \"max_av_offset_ms\": %.3f, "
                  "\"mean_av_offset_ms\": %.3f, \"cpu_seconds\": %.3f, \"draw_cpu_ms\": %.4f, \"upload_cpu_ms\": %.4f, "
                  "\"present_cpu_ms\": %.4f",
                  static_cast<long long>(AFigures.FramesDrawn), static_cast<long long>(AFigures.FramesDropped),
                  AFigures.Seconds, AFigures.MaxOffsetMs, AFigures.MeanOffsetMs, AFigures.CpuSeconds,
                  AFigures.DrawCpuMs, AFigures.UploadCpuMs, AFigures.PresentCpuMs);
    std::string json = text;
    // The presentation's name is ours ("texture (opengl)"), but a renderer's name is SDL's: only
    // what needs no escape in a JSON string is kept.
    json += ", \"presentation\": \"";
    for (const char c : AFigures.Presentation)
        if (c >= ' ' && c <= '~' && c != '"' && c != '\\')
            json += c;
    json += "\"}\n";
    return json;
}

void WriteReport(output::TAtomicFile& AReport, const TPlayFigures& AFigures)
{
    const std::string json = ReportJson(AFigures);
    if (std::fputs(json.c_str(), AReport.Stream()) < 0)
        output::ThrowWriteError(AReport.Target());
    AReport.Commit();
}

} // namespace play
