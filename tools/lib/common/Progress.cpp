#include "tools/lib/common/Progress.h"

#include "tools/lib/common/Interrupt.h"

#include <unistd.h>

namespace common {

TProgress::TProgress(std::int64_t ATotal, std::FILE* AStream)
    : FTotal(ATotal), FStream(AStream), FShown(isatty(fileno(AStream)) == 1), FStart(TClock::now()), FLastDrawn(FStart)
{}

TProgress::~TProgress()
{
    if (FShown) {
        std::fputc('\n', FStream);
        SetProgressLineOpen(false);
    }
}

void TProgress::Update(std::int64_t ADone)
{
    if (!FShown)
        return;
    const TClock::time_point now = TClock::now();
    if (ADone < FTotal && now - FLastDrawn < std::chrono::milliseconds(100))
        return;
    FLastDrawn = now;
    const double seconds = std::chrono::duration<double>(now - FStart).count();
    const double fps = seconds > 0 ? static_cast<double>(ADone) / seconds : 0;
    const double left = fps > 0 ? static_cast<double>(FTotal - ADone) / fps : 0;
    constexpr int Width = 30;
    const int filled = FTotal > 0 ? static_cast<int>(ADone * Width / FTotal) : Width;
    char bar[Width + 1];
    for (int i = 0; i < Width; ++i)
        bar[i] = i < filled ? '#' : '.';
    bar[Width] = 0;
    std::fprintf(FStream, "\r[%s] %lld/%lld frames  %.1f fps  %.1f s left  ", bar, static_cast<long long>(ADone),
                 static_cast<long long>(FTotal), fps, left);
    std::fflush(FStream);
    SetProgressLineOpen(true);
}

} // namespace common
