#include "tools/lib/drive/Trace.h"

#include <cerrno>
#include <charconv>
#include <cstring>

namespace drive {

namespace {

// Set while the recorder runs, so that the calls it makes itself (GetObjectW) are not traced.
thread_local bool InRecorder = false;

void Append(std::string& ALine, std::int64_t AValue)
{
    char digits[24];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, AValue);
    (void)error;
    ALine.append(digits, end);
}

void AppendColor(std::string& ALine, COLORREF AColor)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    ALine += "0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        ALine += Hex[(AColor >> shift) & 0xF];
}

void AppendPen(std::string& ALine, const LOGPEN& APen)
{
    ALine += " pen=";
    AppendColor(ALine, APen.lopnColor);
    ALine += '/';
    Append(ALine, APen.lopnWidth.x);
}

// The colour a brush argument of FillRect fills with: handles 1 to 31 stand for the system
// colour one below, as in user32. CLR_INVALID for a handle that is no brush.
COLORREF FillColorOf(HGDIOBJ ABrush)
{
    const auto value = reinterpret_cast<std::uintptr_t>(ABrush);
    if (value >= 1 && value <= 31)
        return GetSysColor(static_cast<int>(value - 1));
    LOGBRUSH brush{};
    if (GetObjectW(ABrush, sizeof brush, &brush) != static_cast<int>(sizeof brush))
        return CLR_INVALID;
    return brush.lbColor;
}

void LineInto(std::string& ALine, const STANDIN_CALL& ACall)
{
    ALine.clear();
    const char* function = ACall.Function;
    if (std::strcmp(function, "FillRect") == 0 && ACall.ArgCount == 4) {
        ALine += "FillRect";
        for (int i = 0; i < 4; ++i) {
            ALine += ' ';
            Append(ALine, ACall.Args[i]);
        }
        ALine += " brush=";
        AppendColor(ALine, FillColorOf(ACall.Object));
    } else if (std::strcmp(function, "Ellipse") == 0 && ACall.ArgCount == 4) {
        ALine += "Ellipse";
        for (int i = 0; i < 4; ++i) {
            ALine += ' ';
            Append(ALine, ACall.Args[i]);
        }
        AppendPen(ALine, ACall.PenData);
        ALine += " brush=";
        AppendColor(ALine, ACall.BrushData.lbColor);
    } else if (std::strcmp(function, "Polyline") == 0 && ACall.ArgCount >= 1) {
        const std::int32_t count = ACall.Args[0];
        ALine += "Polyline ";
        Append(ALine, count);
        for (std::int32_t i = 0; ACall.Points && i < count; ++i) {
            ALine += ' ';
            Append(ALine, ACall.Points[i].x);
            ALine += ',';
            Append(ALine, ACall.Points[i].y);
        }
        AppendPen(ALine, ACall.PenData);
    }
}

} // namespace

TTraceWriter::TTraceWriter(const std::string& APath, HDC ADc) : FFile(APath), FDc(ADc)
{
    FLine.reserve(1024);
    StandInSetRecorder(&TTraceWriter::Record, this);
}

TTraceWriter::~TTraceWriter()
{
    StandInSetRecorder(nullptr, nullptr);
}

void TTraceWriter::BeginFrame(std::int64_t AFrame)
{
    ThrowIfFailed();
    FLine = "frame ";
    Append(FLine, AFrame);
    FLine += '\n';
    Put();
    ThrowIfFailed();
}

void TTraceWriter::Finish()
{
    StandInSetRecorder(nullptr, nullptr);
    ThrowIfFailed();
    FFile.Finish();
}

void TTraceWriter::Commit()
{
    Finish();
    output::CommitTogether({&FFile});
}

void TTraceWriter::Put() noexcept
{
    if (FWriteError != 0)
        return;
    errno = 0;
    if (std::fwrite(FLine.data(), 1, FLine.size(), FFile.Stream()) != FLine.size())
        FWriteError = errno != 0 ? errno : EIO;
}

void TTraceWriter::ThrowIfFailed()
{
    if (FWriteError != 0) {
        errno = FWriteError;
        output::ThrowWriteError(FFile.Target());
    }
}

std::string TTraceWriter::LineOf(const STANDIN_CALL& ACall)
{
    std::string line;
    LineInto(line, ACall);
    return line;
}

void TTraceWriter::Record(const STANDIN_CALL* ACall, void* AUser)
{
    auto* self = static_cast<TTraceWriter*>(AUser);
    if (InRecorder || !ACall || !ACall->Function || ACall->Dc != self->FDc)
        return;
    InRecorder = true;
    LineInto(self->FLine, *ACall);
    InRecorder = false;
    if (self->FLine.empty())
        return;
    self->FLine += '\n';
    // The recorder is called from inside the stand-in and must not throw: a failed write is
    // kept and reported when the next frame begins.
    self->Put();
}

} // namespace drive
