#include "tools/lib/output/video/Ffmpeg.h"

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <array>
#include <cstdarg>
#include <mutex>

namespace output::video {

namespace {

std::mutex LogLock;
std::string LastLogLine; // guarded by LogLock

void KeepLastError(void* AObject, int ALevel, const char* AFormat, std::va_list AArgs)
{
    if (ALevel > AV_LOG_ERROR)
        return;
    std::array<char, 512> line{};
    int printPrefix = 0; // no "[context @ address]" prefix
    av_log_format_line2(AObject, ALevel, AFormat, AArgs, line.data(), static_cast<int>(line.size()), &printPrefix);
    std::string text(line.data());
    std::replace(text.begin(), text.end(), '\n', ' ');
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    if (text.empty())
        return;
    const std::lock_guard<std::mutex> lock(LogLock);
    LastLogLine = std::move(text);
}

} // namespace

void CaptureLog()
{
    av_log_set_callback(&KeepLastError);
    TakeLastLogLine();
}

std::string TakeLastLogLine()
{
    const std::lock_guard<std::mutex> lock(LogLock);
    std::string line = std::move(LastLogLine);
    LastLogLine.clear();
    return line;
}

std::string ErrorText(int AError)
{
    std::array<char, AV_ERROR_MAX_STRING_SIZE> text{};
    av_strerror(AError, text.data(), text.size());
    return text.data();
}

void ThrowFailure(int AResult, const char* AWhat)
{
    const std::string logged = TakeLastLogLine();
    throw EVideoFailure(std::string(AWhat) + ": " + (logged.empty() ? ErrorText(AResult) : logged));
}

} // namespace output::video
