// One whole frame, rasterized, against the same frame replayed through cairo with antialiasing
// off: the frame's GDI calls are recorded once at a steady state and then drawn by cairo as fills
// and strokes of the same shapes in the same colours. Both sides are measured in every
// iteration, interleaved, and reported with their ratio.
#include "plugin/Selvanore_Main.h"
#include "tests/support/GdiRecording.h"

#include "bench/BenchSupport.h"

#include <benchmark/benchmark.h>
#include <cairo.h>

#include <chrono>
#include <ctime>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

using bench_support::Seconds;
using bench_support::TClock;

// One drawing call of the frame, as the stand-in recorded it.
struct TTraceCall {
    enum class TKind { Fill, Ellipse, Polyline } Kind;
    std::int32_t Box[4];       // fill rectangle or ellipse box
    std::vector<POINT> Points; // polyline
    COLORREF Pen, Brush;
    LONG PenWidth;
};

void SetColour(cairo_t* ACairo, COLORREF AColor)
{
    cairo_set_source_rgb(ACairo, (AColor & 0xFF) / 255.0, ((AColor >> 8) & 0xFF) / 255.0,
                         ((AColor >> 16) & 0xFF) / 255.0);
}

// The trace through cairo: rectangles filled, ellipses filled with the brush and outlined with
// the pen, polylines stroked through pixel centres.
void Replay(cairo_t* ACairo, const std::vector<TTraceCall>& ATrace)
{
    for (const TTraceCall& call : ATrace) {
        switch (call.Kind) {
        case TTraceCall::TKind::Fill:
            SetColour(ACairo, call.Brush);
            cairo_rectangle(ACairo, call.Box[0], call.Box[1], call.Box[2] - call.Box[0], call.Box[3] - call.Box[1]);
            cairo_fill(ACairo);
            break;
        case TTraceCall::TKind::Ellipse: {
            const double rx = (call.Box[2] - call.Box[0]) / 2.0, ry = (call.Box[3] - call.Box[1]) / 2.0;
            if (rx <= 0.0 || ry <= 0.0)
                break; // an empty box: nothing to draw, and cairo cannot scale by zero
            cairo_save(ACairo);
            cairo_translate(ACairo, call.Box[0] + rx, call.Box[1] + ry);
            cairo_scale(ACairo, rx, ry);
            cairo_new_path(ACairo);
            cairo_arc(ACairo, 0.0, 0.0, 1.0, 0.0, 2.0 * M_PI);
            cairo_restore(ACairo);
            SetColour(ACairo, call.Brush);
            cairo_fill_preserve(ACairo);
            SetColour(ACairo, call.Pen);
            cairo_set_line_width(ACairo, call.PenWidth);
            cairo_stroke(ACairo);
            break;
        }
        case TTraceCall::TKind::Polyline:
            cairo_new_path(ACairo);
            cairo_move_to(ACairo, call.Points[0].x + 0.5, call.Points[0].y + 0.5);
            for (std::size_t i = 1; i < call.Points.size(); ++i)
                cairo_line_to(ACairo, call.Points[i].x + 0.5, call.Points[i].y + 0.5);
            SetColour(ACairo, call.Pen);
            cairo_set_line_width(ACairo, call.PenWidth);
            cairo_stroke(ACairo);
            break;
        }
    }
}

// Args: width and height of the area.
void BM_FrameVersusCairo(benchmark::State& State)
{
    const auto width = static_cast<int>(State.range(0)), height = static_cast<int>(State.range(1));
    TVisualization* vis = Make<TVisualization>().Detach();
    IAIMPExtensionEmbeddedVisualization* slots = vis->Interface();
    slots->Initialize(width, height);
    gdi::TMemoryContext dc(width, height);
    auto block = bench_support::NoiseBlock(5);
    for (int frame = 0; frame < 160; ++frame) // every slot captured, every depth in use
        slots->Draw(dc.Dc(), block.get());

    std::vector<TTraceCall> trace;
    {
        testing_support::TCallRecorder recorder;
        slots->Draw(dc.Dc(), block.get());
        for (const testing_support::TRecordedCall& call : recorder.Calls()) {
            TTraceCall entry{};
            entry.Pen = call.PenColor;
            entry.Brush = call.BrushColor;
            entry.PenWidth = call.PenWidth;
            if (call.Function == "FillRect")
                entry.Kind = TTraceCall::TKind::Fill;
            else if (call.Function == "Ellipse")
                entry.Kind = TTraceCall::TKind::Ellipse;
            else if (call.Function == "Polyline")
                entry.Kind = TTraceCall::TKind::Polyline;
            else
                continue;
            if (entry.Kind == TTraceCall::TKind::Polyline)
                entry.Points = call.Points;
            else
                for (int i = 0; i < 4; ++i)
                    entry.Box[i] = call.Args.at(static_cast<std::size_t>(i));
            trace.push_back(std::move(entry));
        }
    }

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_t* cairo = cairo_create(surface);
    cairo_set_antialias(cairo, CAIRO_ANTIALIAS_NONE);

    // How alike the two pictures of the recorded frame are: the share of equal pixels, a check
    // that the replay draws the same frame (the two rasterizers differ only at shape edges).
    Replay(cairo, trace);
    cairo_surface_flush(surface);
    const unsigned char* bits = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    std::size_t same = 0;
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(bits + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < width; ++x)
            same += (row[x] & 0xFFFFFF) == dc.Pixel(x, y) ? 1 : 0;
    }
    State.counters["same_pixels"] = static_cast<double>(same) / (static_cast<double>(width) * height);
    double own = 0.0, peer = 0.0;
    for (auto _ : State) {
        const auto t0 = TClock::now();
        slots->Draw(dc.Dc(), block.get());
        benchmark::DoNotOptimize(dc.Pixel(0, 0));
        const auto t1 = TClock::now();
        Replay(cairo, trace);
        cairo_surface_flush(surface);
        const auto t2 = TClock::now();
        own += Seconds(t0, t1);
        peer += Seconds(t1, t2);
    }
    if (cairo_status(cairo) != CAIRO_STATUS_SUCCESS)
        State.SkipWithError(cairo_status_to_string(cairo_status(cairo)));
    const double iterations = static_cast<double>(State.iterations());
    State.counters["Draw_us"] = own * 1e6 / iterations;
    State.counters["cairo_us"] = peer * 1e6 / iterations;
    State.counters["ratio"] = peer > 0 ? own / peer : 0.0;
    State.counters["calls"] = static_cast<double>(trace.size());

    cairo_destroy(cairo);
    cairo_surface_destroy(surface);
    slots->Finalize();
    slots->Release();
}
BENCHMARK(BM_FrameVersusCairo)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

} // namespace
