// A log of the calls the Win32 stand-in records, written as compact text. Stand-in only.
#pragma once

#include <win32_standin.h>
#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace canvas_testing {

// One recorded call, copied out of the recorder's callback.
struct TRecordedCall {
    std::string Function;
    HDC Dc = nullptr;
    HGDIOBJ Object = nullptr;
    std::vector<std::int32_t> Args;
    std::vector<POINT> Points;  // Polyline's points
    HGDIOBJ Pen = nullptr;      // selected in Dc when the call was made
    HGDIOBJ Brush = nullptr;
    LOGPEN PenData{};
};

// Records every stand-in call from construction to destruction (one log at a time). Text()
// writes each call as Function(dc, object, args...), naming contexts and objects by the names
// given to Name, stock objects by their Windows names, and objects made while recording by the
// order of their making (pen1, brush2, ...).
class TCallLog {
public:
    TCallLog()
    {
        FNames[GetStockObject(BLACK_PEN)] = "BLACK_PEN";
        FNames[GetStockObject(NULL_BRUSH)] = "NULL_BRUSH";
        FNames[GetStockObject(SYSTEM_FONT)] = "SYSTEM_FONT";
        StandInSetRecorder(&TCallLog::Record, this);
    }
    ~TCallLog() { StandInSetRecorder(nullptr, nullptr); }
    TCallLog(const TCallLog&) = delete;
    TCallLog& operator=(const TCallLog&) = delete;

    void Name(const void* AHandle, const std::string& AName) { FNames[AHandle] = AName; }
    void Clear() { FCalls.clear(); }
    const std::vector<TRecordedCall>& Calls() const { return FCalls; }

    std::vector<std::string> Text() const
    {
        std::vector<std::string> result;
        for (const TRecordedCall& call : FCalls)
            result.push_back(Describe(call));
        return result;
    }

    std::size_t Count(const std::string& AFunction) const
    {
        std::size_t n = 0;
        for (const TRecordedCall& call : FCalls)
            n += call.Function == AFunction ? 1 : 0;
        return n;
    }

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
        auto* log = static_cast<TCallLog*>(AUser);
        TRecordedCall call;
        call.Function = ACall->Function;
        call.Dc = ACall->Dc;
        call.Object = ACall->Object;
        call.Args.assign(ACall->Args, ACall->Args + ACall->ArgCount);
        if (ACall->Points != nullptr && call.Function == "Polyline" && ACall->ArgCount > 0 && ACall->Args[0] > 0)
            call.Points.assign(ACall->Points, ACall->Points + ACall->Args[0]);
        call.Pen = ACall->Pen;
        call.Brush = ACall->Brush;
        call.PenData = ACall->PenData;
        if (Makes(call.Function) && call.Object != nullptr && log->FNames.find(call.Object) == log->FNames.end()) {
            const bool pen = call.Function == "CreatePenIndirect";
            log->FNames[call.Object] = (pen ? "pen" : "brush") + std::to_string(++log->FMade);
        }
        log->FCalls.push_back(std::move(call));
    }

    std::vector<TRecordedCall> FCalls;
    std::map<const void*, std::string> FNames;
    int FMade = 0;
};

} // namespace canvas_testing
