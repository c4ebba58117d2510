// The recorder of the GDI calls the Win32 stand-in makes: every call from the recorder's
// construction to its destruction, copied out, with a compact text view of the sequence.
// Stand-in only.
#pragma once

#include <win32_standin.h>
#include <windows.h>

#include "tests/support/TestCanvas.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

// One recorded call, copied out of the stand-in's record.
struct TRecordedCall {
    std::string Function;
    HDC Dc = nullptr;
    HGDIOBJ Object = nullptr;
    std::vector<std::int32_t> Args;
    std::vector<POINT> Points; // the points of a call that takes them (Polyline's)
    HGDIOBJ Pen = nullptr;     // selected in Dc when the call was made
    HGDIOBJ Brush = nullptr;
    LOGPEN PenData{};
    COLORREF PenColor = 0;
    LONG PenWidth = 0;
    COLORREF BrushColor = 0;
};

// Records every stand-in call from construction to destruction (one recorder at a time).
// Text() writes each call as Function(dc, object, args...), naming contexts and objects by the
// names given to Name, stock objects by their Windows names, and objects made while recording by
// the order of their making (pen1, brush2, ...).
class TCallRecorder {
public:
    TCallRecorder()
    {
        FNames[GetStockObject(BLACK_PEN)] = "BLACK_PEN";
        FNames[GetStockObject(NULL_BRUSH)] = "NULL_BRUSH";
        FNames[GetStockObject(SYSTEM_FONT)] = "SYSTEM_FONT";
        StandInSetRecorder(&TCallRecorder::Record, this);
    }
    ~TCallRecorder() { StandInSetRecorder(nullptr, nullptr); }
    TCallRecorder(const TCallRecorder&) = delete;
    TCallRecorder& operator=(const TCallRecorder&) = delete;

    const std::vector<TRecordedCall>& Calls() const { return FCalls; }
    void Clear() { FCalls.clear(); }

    // The recorded calls of one function, in order.
    std::vector<TRecordedCall> Only(std::string_view AFunction) const
    {
        std::vector<TRecordedCall> result;
        for (const TRecordedCall& call : FCalls)
            if (call.Function == AFunction)
                result.push_back(call);
        return result;
    }

    // How many calls of one function were recorded.
    std::size_t Count(std::string_view AFunction) const
    {
        std::size_t n = 0;
        for (const TRecordedCall& call : FCalls)
            n += call.Function == AFunction ? 1 : 0;
        return n;
    }

    // The function names in order, joined by spaces: a compact view of a sequence.
    std::string Names() const
    {
        std::string result;
        for (const TRecordedCall& call : FCalls) {
            if (!result.empty())
                result += ' ';
            result += call.Function;
        }
        return result;
    }

    // Every call as text, with its handles named (see the class comment).
    std::vector<std::string> Text() const
    {
        std::vector<std::string> result;
        for (const TRecordedCall& call : FCalls)
            result.push_back(Describe(call));
        return result;
    }

    void Name(const void* AHandle, const std::string& AName) { FNames[AHandle] = AName; }

    std::string NameOf(const void* AHandle) const
    {
        if (AHandle == nullptr)
            return "0";
        auto it = FNames.find(AHandle);
        return it != FNames.end() ? it->second : "?";
    }

private:
    static bool Makes(const std::string& AFunction)
    {
        return AFunction == "CreatePenIndirect" || AFunction == "CreateBrushIndirect";
    }

    std::string Describe(const TRecordedCall& ACall) const
    {
        std::string text = ACall.Function + "(";
        bool first = true;
        const auto add = [&](const std::string& APart) {
            text += first ? "" : ",";
            text += APart;
            first = false;
        };
        if (ACall.Dc != nullptr)
            add(NameOf(ACall.Dc));
        if (ACall.Object != nullptr && !Makes(ACall.Function))
            add(NameOf(ACall.Object));
        for (std::int32_t arg : ACall.Args)
            add(std::to_string(arg));
        text += ")";
        if (Makes(ACall.Function))
            text += "=" + NameOf(ACall.Object);
        return text;
    }

    static void Record(const STANDIN_CALL* ACall, void* AUser)
    {
        auto* recorder = static_cast<TCallRecorder*>(AUser);
        TRecordedCall call;
        call.Function = ACall->Function;
        call.Dc = ACall->Dc;
        call.Object = ACall->Object;
        call.Args.assign(ACall->Args, ACall->Args + ACall->ArgCount);
        // The first argument of a call with points is their count.
        if (ACall->Points != nullptr && ACall->ArgCount > 0 && ACall->Args[0] > 0)
            call.Points.assign(ACall->Points, ACall->Points + ACall->Args[0]);
        call.Pen = ACall->Pen;
        call.Brush = ACall->Brush;
        call.PenData = ACall->PenData;
        call.PenColor = ACall->PenData.lopnColor;
        call.PenWidth = ACall->PenData.lopnWidth.x;
        call.BrushColor = ACall->BrushData.lbColor;
        if (Makes(call.Function) && call.Object != nullptr &&
            recorder->FNames.find(call.Object) == recorder->FNames.end()) {
            const bool pen = call.Function == "CreatePenIndirect";
            recorder->FNames[call.Object] = (pen ? "pen" : "brush") + std::to_string(++recorder->FMade);
        }
        recorder->FCalls.push_back(std::move(call));
    }

    std::vector<TRecordedCall> FCalls;
    std::map<const void*, std::string> FNames;
    int FMade = 0;
};

} // namespace testing_support
