// selvanore-wine-helper: the preview's drawing end under Wine. It loads Selvanore.dll as the
// player does, draws each record it is sent on a DIB section of Wine's GDI and sends the pixels
// back (see WineProtocol.h). Usage: selvanore-wine-helper MODULE WIDTH HEIGHT
#include "tools/lib/common/ToolError.h"
#include "tools/lib/drive/DrawingArea.h"
#include "tools/lib/drive/WineProtocol.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <fcntl.h>
#include <io.h>

namespace {

void SendHello(std::int32_t AStatus, const std::string& AMessage)
{
    drive::TWineHello hello{};
    std::memcpy(hello.Magic, drive::WineMagic, sizeof hello.Magic);
    hello.Status = AStatus;
    hello.MessageLength = static_cast<std::int32_t>(AMessage.size());
    std::fwrite(&hello, sizeof hello, 1, stdout);
    std::fwrite(AMessage.data(), 1, AMessage.size(), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc != 4) {
        SendHello(1, "usage: selvanore-wine-helper MODULE WIDTH HEIGHT");
        return 2;
    }
    const int width = std::atoi(argv[2]);
    const int height = std::atoi(argv[3]);
    if (width < 1 || height < 1) {
        SendHello(1, "bad drawing area for the Wine helper");
        return 2;
    }
    try {
        drive::TDrawingArea area(argv[1], width, height);
        SendHello(0, {});
        const auto data = std::make_unique<TAIMPVisualData>();
        drive::TWineCommand command{};
        while (std::fread(&command, sizeof command, 1, stdin) == 1) {
            switch (command.Call) {
            case drive::TWineCall::Draw: {
                if (std::fread(data.get(), sizeof(TAIMPVisualData), 1, stdin) != 1)
                    return 1; // the preview went away in the middle of a call
                const std::uint32_t* pixels = area.Draw(*data);
                if (std::fwrite(pixels, 1, area.PixelBytes(), stdout) != area.PixelBytes() || std::fflush(stdout) != 0)
                    return 1; // the preview went away
                break;
            }
            case drive::TWineCall::Resize:
                if (command.A < 1 || command.B < 1)
                    return 2;
                area.Resize(command.A, command.B);
                break;
            case drive::TWineCall::Click: area.Click(command.A, command.B, command.C); break;
            default: return 2;
            }
        }
        return 0;
    } catch (const common::EToolError& error) {
        SendHello(1, error.what());
        return 2;
    } catch (const std::exception& error) {
        SendHello(1, std::string("the Wine helper failed: ") + error.what());
        return 1;
    }
}
