#include "platform/win32/win32_artwork.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>

#include "platform/win32/win32_text.h"

namespace selvatro::platform::win32 {

namespace {

// Colours of the old 16-colour palette, in which the pointer is drawn.
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kGreen = RGB(0, 128, 0);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kSilver = RGB(192, 192, 192);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kYellow = RGB(255, 255, 0);
// A colour that the pointer never uses: what is left of it after drawing is transparent.
constexpr COLORREF kClear = RGB(255, 0, 255);

struct DcDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
using MemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;

/// A top-down 32-bit picture whose pixels can be written directly (0x00RRGGBB in memory order B, G, R, A).
struct Canvas {
    GdiObject<HBITMAP> bitmap;
    std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
};

Canvas MakeCanvas(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    Canvas canvas;
    canvas.bitmap.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    canvas.pixels = static_cast<std::uint32_t*>(bits);
    canvas.width = width;
    canvas.height = height;
    return canvas;
}

std::uint32_t Pixel(COLORREF colour) {
    return (static_cast<std::uint32_t>(GetRValue(colour)) << 16) |
           (static_cast<std::uint32_t>(GetGValue(colour)) << 8) | GetBValue(colour);
}

GdiObject<HFONT> Font(const wchar_t* face, int pixelHeight, int weight, DWORD quality) {
    return GdiObject<HFONT>(CreateFontW(-pixelHeight, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, quality, DEFAULT_PITCH, face));
}

/// Draws `draw` on the canvas through a memory DC, with GDI objects put back before the DC goes.
template <typename Draw>
void Paint(Canvas& canvas, Draw draw) {
    MemoryDc dc(CreateCompatibleDC(nullptr));
    const HGDIOBJ old = SelectObject(dc.get(), canvas.bitmap.get());
    draw(dc.get());
    SelectObject(dc.get(), old);
    GdiFlush();
}

// Whether a face of that name is installed for the font's character set.
bool FaceInstalled(const LOGFONTW& font) {
    struct Screen {
        HDC dc = GetDC(nullptr);
        ~Screen() { ReleaseDC(nullptr, dc); }
    } screen;
    LOGFONTW wanted{};
    wanted.lfCharSet = font.lfCharSet;
    std::copy(std::begin(font.lfFaceName), std::end(font.lfFaceName), std::begin(wanted.lfFaceName));
    bool found = false;
    EnumFontFamiliesExW(
        screen.dc, &wanted,
        [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM data) -> int {
            *reinterpret_cast<bool*>(data) = true;
            return 0;
        },
        reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

// The system's message font at `dpi`.
LOGFONTW MessageFont(UINT dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi) == FALSE) {
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    }
    return metrics.lfMessageFont;
}

}  // namespace

HICON AppIcon(int size) {
    // Shared: the system keeps the one copy that the executable's resource gives.
    auto* icon = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kIconResource), IMAGE_ICON, size, size, LR_SHARED));
    if (icon == nullptr) {
        icon = static_cast<HICON>(
            LoadImageW(nullptr, MAKEINTRESOURCEW(32512) /* IDI_APPLICATION */, IMAGE_ICON, size, size, LR_SHARED));
    }
    return icon;
}

OwnedIcon GoCursor(int size) {
    Canvas canvas = MakeCanvas(size, size);
    if (canvas.pixels == nullptr) {
        return nullptr;
    }
    std::fill(canvas.pixels, canvas.pixels + size * size, Pixel(kClear));
    // Drawn on a 32-unit grid, scaled to the size asked for.
    const auto at = [size](int unit) { return MulDiv(unit, size, 32); };
    Paint(canvas, [&](HDC dc) {
        GdiObject<HBRUSH> sea(CreateSolidBrush(kBlue));
        GdiObject<HPEN> edge(CreatePen(PS_SOLID, 1, kBlack));
        SelectObject(dc, sea.get());
        SelectObject(dc, edge.get());
        Ellipse(dc, at(1), at(1), at(31), at(31));
        // The land: three rough continents, clipped to the globe.
        GdiObject<HRGN> globe(CreateEllipticRgn(at(2), at(2), at(30), at(30)));
        SelectClipRgn(dc, globe.get());
        GdiObject<HBRUSH> land(CreateSolidBrush(kGreen));
        SelectObject(dc, land.get());
        SelectObject(dc, GetStockObject(NULL_PEN));
        const auto polygon = [&](std::initializer_list<POINT> units) {
            std::array<POINT, 8> points{};
            int n = 0;
            for (const POINT p : units) {
                points.at(static_cast<std::size_t>(n++)) = POINT{at(p.x), at(p.y)};
            }
            Polygon(dc, points.data(), n);
        };
        polygon({{3, 6}, {12, 3}, {14, 9}, {10, 14}, {11, 22}, {6, 25}, {3, 16}});
        polygon({{18, 4}, {27, 7}, {29, 14}, {24, 17}, {19, 13}});
        polygon({{17, 21}, {25, 20}, {27, 27}, {20, 30}});
        SelectClipRgn(dc, nullptr);
        // GO across it, in red capitals with a dark edge so that it reads on sea and land alike; no smoothing,
        // which would leave the transparent colour in its edges.
        GdiObject<HFONT> font = Font(L"Arial", at(15), FW_BOLD, NONANTIALIASED_QUALITY);
        SelectObject(dc, font.get());
        SetBkMode(dc, TRANSPARENT);
        BeginPath(dc);
        TextOutW(dc, at(5), at(8), L"GO", 2);
        EndPath(dc);
        GdiObject<HBRUSH> red(CreateSolidBrush(kRed));
        SelectObject(dc, red.get());
        SelectObject(dc, edge.get());
        StrokeAndFillPath(dc);
        SelectObject(dc, GetStockObject(NULL_BRUSH));
        SelectObject(dc, GetStockObject(BLACK_PEN));
        SelectObject(dc, GetStockObject(SYSTEM_FONT));
    });
    // Opaque where something was drawn, transparent elsewhere.
    for (int i = 0; i < size * size; ++i) {
        std::uint32_t& p = canvas.pixels[i];
        p = (p == Pixel(kClear)) ? 0u : (p | 0xFF000000u);
    }
    GdiObject<HBITMAP> mask(CreateBitmap(size, size, 1, 1, nullptr));
    ICONINFO info{};
    info.fIcon = FALSE;
    info.xHotspot = static_cast<DWORD>(size / 2);
    info.yHotspot = static_cast<DWORD>(size / 2);
    info.hbmMask = mask.get();
    info.hbmColor = canvas.bitmap.get();
    return OwnedIcon(CreateIconIndirect(&info));
}

GdiObject<HBITMAP> Banner() {
    constexpr int kWidth = 300;
    constexpr int kHeight = 40;
    Canvas canvas = MakeCanvas(kWidth, kHeight);
    if (canvas.pixels == nullptr) {
        return nullptr;
    }
    // The sky: dark blue to light blue from left to right.
    struct Stop {
        double at;
        int r, g, b;
    };
    constexpr std::array<Stop, 3> kSky{{{0.0, 10, 30, 90}, {0.6, 30, 90, 160}, {1.0, 150, 200, 230}}};
    for (int x = 0; x < kWidth; ++x) {
        const double t = static_cast<double>(x) / (kWidth - 1);
        const Stop& a = t <= kSky[1].at ? kSky[0] : kSky[1];
        const Stop& b = t <= kSky[1].at ? kSky[1] : kSky[2];
        const double f = (t - a.at) / (b.at - a.at);
        const auto mix = [f](int from, int to) {
            return static_cast<std::uint32_t>(std::lround(from + (to - from) * f));
        };
        const std::uint32_t colour = (mix(a.r, b.r) << 16) | (mix(a.g, b.g) << 8) | mix(a.b, b.b);
        for (int y = 0; y < kHeight; ++y) {
            canvas.pixels[y * kWidth + x] = colour;
        }
    }
    Paint(canvas, [&](HDC dc) {
        // A low swoosh under the name.
        GdiObject<HBRUSH> gold(CreateSolidBrush(RGB(220, 170, 40)));
        SelectObject(dc, gold.get());
        SelectObject(dc, GetStockObject(NULL_PEN));
        BeginPath(dc);
        MoveToEx(dc, 0, 36, nullptr);
        const std::array<POINT, 3> curve{{{90, 26}, {180, 44}, {300, 30}}};
        PolyBezierTo(dc, curve.data(), 3);
        LineTo(dc, 300, 40);
        LineTo(dc, 0, 40);
        CloseFigure(dc);
        EndPath(dc);
        FillPath(dc);
        // The name, with a soft shadow.
        GdiObject<HFONT> font = Font(L"Times New Roman", 26, FW_BOLD, ANTIALIASED_QUALITY);
        SelectObject(dc, font.get());
        SetBkMode(dc, TRANSPARENT);
        SetTextCharacterExtra(dc, 3);
        RECT shadow{2, 2, 262, 38};
        SetTextColor(dc, RGB(10, 20, 50));
        DrawTextW(dc, L"Tovrel", -1, &shadow, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        RECT name{0, 0, 260, 36};
        SetTextColor(dc, kWhite);
        DrawTextW(dc, L"Tovrel", -1, &name, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        // A sun in a ring.
        GdiObject<HBRUSH> sun(CreateSolidBrush(kYellow));
        GdiObject<HPEN> sunEdge(CreatePen(PS_SOLID, 1, kYellow));
        SelectObject(dc, sun.get());
        SelectObject(dc, sunEdge.get());
        Ellipse(dc, 17, 11, 32, 26);
        GdiObject<HPEN> ring(CreatePen(PS_SOLID, 1, kSilver));
        SelectObject(dc, ring.get());
        SelectObject(dc, GetStockObject(NULL_BRUSH));
        Ellipse(dc, 13, 7, 36, 30);
        SelectObject(dc, GetStockObject(BLACK_PEN));
        SelectObject(dc, GetStockObject(SYSTEM_FONT));
    });
    return std::move(canvas.bitmap);
}

GdiObject<HFONT> HeadingFont(const platform::WindowDesign& design, UINT dpi) {
    // Points are 1/72 inch: 9.75 points are 13 pixels at 96 dpi.
    const int height = static_cast<int>(std::lround(design.headingPointSize * dpi / 72.0));
    LOGFONTW font{};
    font.lfHeight = -height;
    font.lfWeight = design.headingWeight;
    font.lfCharSet = ANSI_CHARSET;
    font.lfOutPrecision = OUT_TT_PRECIS;
    font.lfQuality = CLEARTYPE_QUALITY;
    const std::wstring face = Widen(design.headingFont);
    face.copy(font.lfFaceName, LF_FACESIZE - 1);
    if (!FaceInstalled(font)) {
        // The system's stand-in for a missing face is often wider and clips the headings (under Wine it is DejaVu
        // Sans): the message font, in the design's weight, keeps them whole.
        const LONG weight = font.lfWeight;
        font = MessageFont(dpi);
        font.lfWeight = weight;
    }
    return GdiObject<HFONT>(CreateFontIndirectW(&font));
}

GdiObject<HFONT> BoxFont(UINT dpi) {
    const LOGFONTW message = MessageFont(dpi);
    return GdiObject<HFONT>(CreateFontIndirectW(&message));
}

HCURSOR Artwork::goCursor() {
    if (!cursor_) {
        cursor_ = GoCursor(GetSystemMetrics(SM_CXCURSOR));
    }
    return cursor_.get();
}

HBITMAP Artwork::banner() {
    if (!banner_) {
        banner_ = Banner();
    }
    return banner_.get();
}

}  // namespace selvatro::platform::win32
