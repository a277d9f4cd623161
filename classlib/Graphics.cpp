// Colours, graphics objects, canvases, bitmaps, icons and image lists.
#include "Graphics.h"

#include <commctrl.h>

#include <cstring>

COLORREF ColorToRGB(TColor Color) {
    if (Color < 0)
        return GetSysColor(Color & 0xFF);
    return static_cast<COLORREF>(Color) & 0xFFFFFF;
}

namespace {
int LiveObjects = 0;
}

int LiveGdiObjects() {
    return LiveObjects;
}

void classlib_detail::CountGdiObject(int Delta) {
    LiveObjects += Delta;
}

using classlib_detail::CountGdiObject;

void TGdiHandle::Reset(HGDIOBJ Handle) {
    if (FHandle == Handle)
        return;
    if (FHandle) {
        DeleteObject(FHandle);
        CountGdiObject(-1);
    }
    if (Handle)
        CountGdiObject(1);
    FHandle = Handle;
}

void TGraphicsObject::Changed() {
    FHandle.Reset();
    OnChange(this);
}

// =============================================================================================
// TFont

TFont::TFont() {
    NONCLIENTMETRICSA metrics = {};
    // The size of the structure without the padded border width that newer systems add.
    metrics.cbSize = offsetof(NONCLIENTMETRICSA, lfMessageFont) + sizeof(LOGFONTA);
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) {
        AssignLogFont(metrics.lfMessageFont);
    } else {
        FName = "MS Sans Serif";
        FHeight = -11;
    }
    FColor = clWindowText;
}

void TFont::AssignLogFont(const LOGFONTA &Font) {
    FName = Font.lfFaceName;
    FHeight = Font.lfHeight;
    FStyle = (Font.lfWeight >= FW_BOLD ? fsBold : 0) | (Font.lfItalic ? fsItalic : 0) |
             (Font.lfUnderline ? fsUnderline : 0) | (Font.lfStrikeOut ? fsStrikeOut : 0);
    FCharSet = Font.lfCharSet;
    Changed();
}

void TFont::Assign(const TFont &Source) {
    if (&Source == this)
        return;
    FName = Source.FName;
    FHeight = Source.FHeight;
    FStyle = Source.FStyle;
    FColor = Source.FColor;
    FCharSet = Source.FCharSet;
    Changed();
}

bool TFont::Equals(const TFont &Other) const {
    return FName == Other.FName && FHeight == Other.FHeight && FStyle == Other.FStyle &&
           FColor == Other.FColor && FCharSet == Other.FCharSet;
}

HFONT TFont::Handle() {
    if (!FHandle.Get()) {
        LOGFONTA font = {};
        font.lfHeight = FHeight;
        font.lfWeight = (FStyle & fsBold) ? FW_BOLD : FW_NORMAL;
        font.lfItalic = (FStyle & fsItalic) != 0;
        font.lfUnderline = (FStyle & fsUnderline) != 0;
        font.lfStrikeOut = (FStyle & fsStrikeOut) != 0;
        font.lfCharSet = FCharSet;
        font.lfQuality = DEFAULT_QUALITY;
        std::strncpy(font.lfFaceName, FName.c_str(), LF_FACESIZE - 1);
        FHandle.Reset(CreateFontIndirectA(&font));
    }
    return static_cast<HFONT>(FHandle.Get());
}

namespace {
int ScreenPixelsPerInch() {
    HDC screen = GetDC(nullptr);
    int result = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return result > 0 ? result : 96;
}
} // namespace

int TFont::Size() const {
    return -MulDiv(FHeight, 72, ScreenPixelsPerInch());
}

void TFont::SetSize(int Value) {
    SetHeight(-MulDiv(Value, ScreenPixelsPerInch(), 72));
}

void TFont::SetName(const std::string &Value) {
    if (Value != FName) {
        FName = Value;
        Changed();
    }
}

void TFont::SetHeight(int Value) {
    if (Value != FHeight) {
        FHeight = Value;
        Changed();
    }
}

void TFont::SetStyle(TFontStyles Value) {
    if (Value != FStyle) {
        FStyle = Value;
        Changed();
    }
}

void TFont::SetColor(TColor Value) {
    if (Value != FColor) {
        FColor = Value;
        OnChange(this); // the handle does not carry the colour
    }
}

// =============================================================================================
// TPen, TBrush

HPEN TPen::Handle() {
    if (!FHandle.Get()) {
        static const int styles[] = {PS_SOLID,      PS_DASH, PS_DOT,        PS_DASHDOT,
                                     PS_DASHDOTDOT, PS_NULL, PS_INSIDEFRAME};
        FHandle.Reset(CreatePen(styles[FStyle], FWidth, ColorToRGB(FColor)));
    }
    return static_cast<HPEN>(FHandle.Get());
}

void TPen::SetColor(TColor Value) {
    if (Value != FColor) {
        FColor = Value;
        Changed();
    }
}

void TPen::SetWidth(int Value) {
    if (Value != FWidth) {
        FWidth = Value;
        Changed();
    }
}

void TPen::SetStyle(TPenStyle Value) {
    if (Value != FStyle) {
        FStyle = Value;
        Changed();
    }
}

void TPen::SetMode(int Value) {
    if (Value != FMode) {
        FMode = Value;
        OnChange(this);
    }
}

void TPen::Assign(const TPen &Source) {
    FColor = Source.FColor;
    FWidth = Source.FWidth;
    FStyle = Source.FStyle;
    FMode = Source.FMode;
    Changed();
}

TBrush::TBrush() = default;
TBrush::~TBrush() = default;

HBRUSH TBrush::Handle() {
    if (!FHandle.Get()) {
        LOGBRUSH brush = {};
        if (FBitmap) {
            brush.lbStyle = BS_PATTERN;
            brush.lbHatch = reinterpret_cast<ULONG_PTR>(FBitmap->Handle());
        } else if (FStyle == bsSolid) {
            brush.lbStyle = BS_SOLID;
        } else if (FStyle == bsClear) {
            brush.lbStyle = BS_NULL;
        } else {
            static const int hatches[] = {
                0, 0, HS_HORIZONTAL, HS_VERTICAL, HS_FDIAGONAL, HS_BDIAGONAL, HS_CROSS, HS_DIAGCROSS};
            brush.lbStyle = BS_HATCHED;
            brush.lbHatch = hatches[FStyle];
        }
        brush.lbColor = ColorToRGB(FColor);
        FHandle.Reset(CreateBrushIndirect(&brush));
    }
    return static_cast<HBRUSH>(FHandle.Get());
}

void TBrush::SetColor(TColor Value) {
    if (Value != FColor || FStyle == bsClear) {
        FColor = Value;
        if (FStyle == bsClear)
            FStyle = bsSolid;
        Changed();
    }
}

void TBrush::SetStyle(TBrushStyle Value) {
    if (Value != FStyle) {
        FStyle = Value;
        Changed();
    }
}

void TBrush::SetBitmap(TBitmap *Value) {
    if (Value != FBitmap) {
        FBitmap = Value;
        Changed();
    }
}

void TBrush::Assign(const TBrush &Source) {
    FColor = Source.FColor;
    FStyle = Source.FStyle;
    FBitmap = Source.FBitmap;
    Changed();
}

// =============================================================================================
// TCanvas

TCanvas::TCanvas()
    : FFont(std::make_unique<TFont>()), FPen(std::make_unique<TPen>()), FBrush(std::make_unique<TBrush>()) {
    FFont->OnChange = MakeNotifyEvent<&TCanvas::ObjectChanged>(this);
    FPen->OnChange = MakeNotifyEvent<&TCanvas::ObjectChanged>(this);
    FBrush->OnChange = MakeNotifyEvent<&TCanvas::ObjectChanged>(this);
}

TCanvas::~TCanvas() {
    SetHandle(nullptr);
}

void TCanvas::ObjectChanged(TObject *) {
    // The old handles are deleted by the objects; put the stock ones back first.
    if (FHandle && FObjectsValid)
        DeselectObjects();
}

void TCanvas::DeselectObjects() {
    if (FOldFont)
        SelectObject(FHandle, FOldFont);
    if (FOldPen)
        SelectObject(FHandle, FOldPen);
    if (FOldBrush)
        SelectObject(FHandle, FOldBrush);
    FOldFont = FOldPen = FOldBrush = nullptr;
    FObjectsValid = false;
}

void TCanvas::SetHandle(HDC Value) {
    if (Value == FHandle)
        return;
    if (FHandle)
        DeselectObjects();
    FHandle = Value;
}

HDC TCanvas::Handle() {
    if (!FHandle)
        CreateHandle();
    if (!FHandle)
        throw Exception("Canvas does not allow drawing");
    return FHandle;
}

void TCanvas::RequireObjects() {
    HDC dc = Handle();
    if (FObjectsValid)
        return;
    // The old handles of changed objects may already be gone: select stock objects first.
    HGDIOBJ font = SelectObject(dc, FFont->Handle());
    HGDIOBJ pen = SelectObject(dc, FPen->Handle());
    HGDIOBJ brush = SelectObject(dc, FBrush->Handle());
    if (!FOldFont)
        FOldFont = font;
    if (!FOldPen)
        FOldPen = pen;
    if (!FOldBrush)
        FOldBrush = brush;
    SetTextColor(dc, ColorToRGB(FFont->Color()));
    SetROP2(dc, FPen->Mode());
    if (FBrush->Style() == bsClear) {
        SetBkMode(dc, TRANSPARENT);
    } else {
        SetBkMode(dc, OPAQUE);
        SetBkColor(dc, ColorToRGB(FBrush->Color()));
    }
    FObjectsValid = true;
}

void TCanvas::MoveTo(int X, int Y) {
    MoveToEx(Handle(), X, Y, nullptr);
    FPenPos = {X, Y};
}

void TCanvas::LineTo(int X, int Y) {
    RequireObjects();
    ::LineTo(FHandle, X, Y);
    FPenPos = {X, Y};
}

void TCanvas::Polygon(const std::vector<TPoint> &Points) {
    RequireObjects();
    std::vector<POINT> points(Points.size());
    for (size_t i = 0; i < Points.size(); ++i)
        points[i] = {Points[i].X, Points[i].Y};
    ::Polygon(FHandle, points.data(), static_cast<int>(points.size()));
}

void TCanvas::Polyline(const std::vector<TPoint> &Points) {
    RequireObjects();
    std::vector<POINT> points(Points.size());
    for (size_t i = 0; i < Points.size(); ++i)
        points[i] = {Points[i].X, Points[i].Y};
    ::Polyline(FHandle, points.data(), static_cast<int>(points.size()));
}

void TCanvas::Rectangle(int X1, int Y1, int X2, int Y2) {
    RequireObjects();
    ::Rectangle(FHandle, X1, Y1, X2, Y2);
}

void TCanvas::Ellipse(int X1, int Y1, int X2, int Y2) {
    RequireObjects();
    ::Ellipse(FHandle, X1, Y1, X2, Y2);
}

void TCanvas::FillRect(const RECT &R) {
    RequireObjects();
    ::FillRect(FHandle, &R, FBrush->Handle());
}

void TCanvas::FrameRect(const RECT &R) {
    RequireObjects();
    ::FrameRect(FHandle, &R, FBrush->Handle());
}

void TCanvas::DrawFocusRect(const RECT &R) {
    RequireObjects();
    ::DrawFocusRect(FHandle, &R);
}

void TCanvas::TextOut(int X, int Y, const std::string &Text) {
    RequireObjects();
    ::TextOutA(FHandle, X, Y, Text.data(), static_cast<int>(Text.size()));
    FPenPos = {X + TextWidth(Text), Y};
}

void TCanvas::TextRect(RECT R, const std::string &Text, UINT Flags) {
    RequireObjects();
    if (FBrush->Style() != bsClear)
        ::FillRect(FHandle, &R, FBrush->Handle());
    int mode = SetBkMode(FHandle, TRANSPARENT);
    // DrawText may write the shortened text into the buffer with DT_MODIFYSTRING only; it is not
    // asked for, so the text stays constant.
    ::DrawTextA(FHandle, Text.c_str(), static_cast<int>(Text.size()), &R, Flags | DT_NOPREFIX);
    SetBkMode(FHandle, mode);
}

SIZE TCanvas::TextExtent(const std::string &Text) {
    RequireObjects();
    SIZE size = {0, 0};
    GetTextExtentPoint32A(FHandle, Text.data(), static_cast<int>(Text.size()), &size);
    return size;
}

void TCanvas::Draw(int X, int Y, TGraphic &Graphic) {
    if (Graphic.Empty())
        return;
    Graphic.Draw(*this, Bounds(X, Y, Graphic.Width(), Graphic.Height()));
}

void TCanvas::StretchDraw(const RECT &R, TGraphic &Graphic) {
    if (!Graphic.Empty())
        Graphic.Draw(*this, R);
}

void TCanvas::CopyRect(const RECT &DestRect, TCanvas &Source, const RECT &SourceRect) {
    RequireObjects();
    HDC source = Source.Handle();
    StretchBlt(FHandle, DestRect.left, DestRect.top, DestRect.right - DestRect.left,
               DestRect.bottom - DestRect.top, source, SourceRect.left, SourceRect.top,
               SourceRect.right - SourceRect.left, SourceRect.bottom - SourceRect.top, FCopyMode);
}

TColor TCanvas::Pixels(int X, int Y) {
    return static_cast<TColor>(GetPixel(Handle(), X, Y));
}

void TCanvas::SetPixel(int X, int Y, TColor Color) {
    ::SetPixelV(Handle(), X, Y, ColorToRGB(Color));
}

void TCanvas::PatBlt(const RECT &R, DWORD Rop) {
    RequireObjects();
    ::PatBlt(FHandle, R.left, R.top, R.right - R.left, R.bottom - R.top, Rop);
}

// =============================================================================================
// TBitmap

class TBitmapCanvas : public TCanvas {
public:
    explicit TBitmapCanvas(TBitmap &Owner) : FOwner(Owner) {}
    ~TBitmapCanvas() override { FreeContext(); }
    void FreeContext() {
        HDC dc = HandleAllocated() ? TCanvas::Handle() : nullptr;
        if (!dc)
            return;
        SetHandle(nullptr);
        if (FOldBitmap)
            SelectObject(dc, FOldBitmap);
        FOldBitmap = nullptr;
        DeleteDC(dc);
        CountGdiObject(-1);
    }

protected:
    void CreateHandle() override {
        if (!FOwner.FHandle)
            FOwner.NewImage(1, 1, FOwner.FFormat); // a canvas always draws on something
        HDC dc = CreateCompatibleDC(nullptr);
        CountGdiObject(1);
        FOldBitmap = SelectObject(dc, FOwner.FHandle);
        SetHandle(dc);
    }

private:
    TBitmap &FOwner;
    HGDIOBJ FOldBitmap = nullptr;
};

TBitmap::TBitmap() = default;

TBitmap::TBitmap(int AWidth, int AHeight, TPixelFormat Format) {
    FFormat = Format;
    SetSize(AWidth, AHeight);
}

TBitmap::~TBitmap() {
    FCanvas.reset();
    FreeImage();
}

void TBitmap::FreeImage() {
    if (FCanvas)
        FCanvas->FreeContext();
    if (FHandle) {
        DeleteObject(FHandle);
        CountGdiObject(-1);
    }
    FHandle = nullptr;
    FBits = nullptr;
}

void TBitmap::NewImage(int AWidth, int AHeight, TPixelFormat Format) {
    FreeImage();
    FFormat = Format;
    FWidth = AWidth > 0 ? AWidth : 0;
    FHeight = AHeight > 0 ? AHeight : 0;
    int width = FWidth > 0 ? FWidth : 1, height = FHeight > 0 ? FHeight : 1;
    if (Format == pfDevice) {
        HDC screen = GetDC(nullptr);
        FHandle = CreateCompatibleBitmap(screen, width, height);
        ReleaseDC(nullptr, screen);
    } else {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = Format == pf24bit ? 24 : 32;
        info.bmiHeader.biCompression = BI_RGB;
        FHandle = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &FBits, nullptr, 0);
    }
    if (!FHandle)
        throw EOutOfMemory("Out of system resources");
    CountGdiObject(1);
}

void TBitmap::SetSize(int AWidth, int AHeight) {
    if (FHandle && AWidth == FWidth && AHeight == FHeight)
        return;
    NewImage(AWidth, AHeight, FFormat);
    OnChange(this);
}

void TBitmap::SetPixelFormat(TPixelFormat Value) {
    if (Value == FFormat)
        return;
    if (!FHandle) {
        FFormat = Value;
        return;
    }
    TBitmap copy(FWidth, FHeight, Value);
    BitBlt(copy.Canvas().Handle(), 0, 0, FWidth, FHeight, Canvas().Handle(), 0, 0, SRCCOPY);
    copy.FCanvas->FreeContext();
    FreeImage();
    FHandle = copy.FHandle;
    FBits = copy.FBits;
    FFormat = Value;
    copy.FHandle = nullptr; // the handle moves over, and with it its count
    copy.FBits = nullptr;
    OnChange(this);
}

HBITMAP TBitmap::Handle() {
    // A bitmap selected into the canvas cannot be selected elsewhere (pattern brushes, image
    // lists and other contexts take the handle).
    if (FCanvas)
        FCanvas->FreeContext();
    if (!FHandle)
        NewImage(FWidth, FHeight, FFormat);
    return FHandle;
}

void TBitmap::SetHandle(HBITMAP Value) {
    FreeImage();
    FHandle = Value;
    if (Value)
        CountGdiObject(1);
    BITMAP info = {};
    DIBSECTION section = {};
    if (Value && GetObjectA(Value, sizeof(section), &section) == sizeof(section)) {
        FWidth = section.dsBm.bmWidth;
        FHeight = std::abs(section.dsBm.bmHeight);
        FFormat = section.dsBm.bmBitsPixel == 32   ? pf32bit
                  : section.dsBm.bmBitsPixel == 24 ? pf24bit
                                                   : pfDevice;
        FBits = FFormat == pfDevice ? nullptr : section.dsBm.bmBits;
    } else if (Value && GetObjectA(Value, sizeof(info), &info)) {
        FWidth = info.bmWidth;
        FHeight = info.bmHeight;
        FFormat = pfDevice;
    } else {
        FWidth = FHeight = 0;
    }
    OnChange(this);
}

HBITMAP TBitmap::ReleaseHandle() {
    HBITMAP handle = Handle();
    FHandle = nullptr;
    FBits = nullptr;
    CountGdiObject(-1);
    FWidth = FHeight = 0;
    return handle;
}

TCanvas &TBitmap::Canvas() {
    if (!FCanvas)
        FCanvas = std::make_unique<TBitmapCanvas>(*this);
    return *FCanvas;
}

void TBitmap::Assign(TBitmap &Source) {
    if (&Source == this)
        return;
    NewImage(Source.FWidth, Source.FHeight, Source.FFormat);
    if (!Source.Empty())
        BitBlt(Canvas().Handle(), 0, 0, FWidth, FHeight, Source.Canvas().Handle(), 0, 0, SRCCOPY);
    FTransparent = Source.FTransparent;
    OnChange(this);
}

void TBitmap::LoadFromResourceName(HINSTANCE Instance, const std::string &Name) {
    HBITMAP handle = static_cast<HBITMAP>(LoadImageA(Instance, Name.c_str(), IMAGE_BITMAP, 0, 0, 0));
    if (!handle)
        throw EResNotFound("Resource %s not found", Name);
    SetHandle(handle);
}

void TBitmap::LoadFromFile(const std::string &FileName) {
    HBITMAP handle = static_cast<HBITMAP>(
        LoadImageA(nullptr, FileName.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    if (!handle)
        throw EInvalidGraphic("Bitmap image is not valid");
    SetHandle(handle);
}

TColor TBitmap::TransparentColor() {
    if (Empty())
        return clNone;
    return Canvas().Pixels(0, FHeight - 1);
}

void TBitmap::Draw(TCanvas &Target, const RECT &R) {
    if (Empty())
        return;
    HDC source = Canvas().Handle();
    HDC dest = Target.Handle();
    int width = R.right - R.left, height = R.bottom - R.top;
    if (FTransparent)
        GdiTransparentBlt(dest, R.left, R.top, width, height, source, 0, 0, FWidth, FHeight,
                          ColorToRGB(TransparentColor()));
    else
        StretchBlt(dest, R.left, R.top, width, height, source, 0, 0, FWidth, FHeight, Target.CopyMode());
}

void *TBitmap::ScanLine(int Row) {
    if (!FBits || Row < 0 || Row >= FHeight)
        return nullptr;
    GdiFlush();
    int stride = ((FWidth * (FFormat == pf24bit ? 24 : 32) + 31) / 32) * 4;
    return static_cast<uint8_t *>(FBits) + static_cast<size_t>(FHeight - 1 - Row) * stride;
}

// =============================================================================================
// TIcon, TImageList

TIcon::~TIcon() {
    SetHandle(nullptr);
}

void TIcon::SetHandle(HICON Value) {
    if (FHandle && FHandle != Value)
        DestroyIcon(FHandle);
    FHandle = Value;
    FWidth = FHeight = 0;
    ICONINFO info = {};
    if (Value && GetIconInfo(Value, &info)) {
        BITMAP mask = {};
        GetObjectA(info.hbmMask, sizeof(mask), &mask);
        FWidth = mask.bmWidth;
        FHeight = info.hbmColor ? mask.bmHeight : mask.bmHeight / 2;
        if (info.hbmColor)
            DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
    }
    OnChange(this);
}

HICON TIcon::ReleaseHandle() {
    HICON handle = FHandle;
    FHandle = nullptr;
    return handle;
}

void TIcon::LoadFromResourceName(HINSTANCE Instance, const std::string &Name) {
    HICON handle = static_cast<HICON>(LoadImageA(Instance, Name.c_str(), IMAGE_ICON, 0, 0, 0));
    if (!handle)
        throw EResNotFound("Resource %s not found", Name);
    SetHandle(handle);
}

void TIcon::Draw(TCanvas &Canvas, const RECT &R) {
    if (FHandle)
        DrawIconEx(Canvas.Handle(), R.left, R.top, FHandle, R.right - R.left, R.bottom - R.top, 0, nullptr,
                   DI_NORMAL);
}

TImageList::TImageList(int AWidth, int AHeight) : FWidth(AWidth), FHeight(AHeight) {
    FHandle = ImageList_Create(AWidth, AHeight, ILC_COLOR24 | ILC_MASK, 4, 4);
    if (!FHandle)
        throw EOutOfMemory("Out of system resources");
    CountGdiObject(1);
}

TImageList::~TImageList() {
    ImageList_Destroy(FHandle);
    CountGdiObject(-1);
}

int TImageList::Count() const {
    return ImageList_GetImageCount(FHandle);
}

int TImageList::AddMasked(TBitmap &Image, TColor MaskColor) {
    return ImageList_AddMasked(FHandle, Image.Handle(), ColorToRGB(MaskColor));
}

int TImageList::AddIcon(TIcon &Icon) {
    return ImageList_AddIcon(FHandle, Icon.Handle());
}

void TImageList::Draw(TCanvas &Canvas, int X, int Y, int Index, bool Enabled) {
    ImageList_DrawEx(FHandle, Index, Canvas.Handle(), X, Y, 0, 0, CLR_NONE, Enabled ? CLR_NONE : CLR_DEFAULT,
                     Enabled ? ILD_TRANSPARENT : (ILD_TRANSPARENT | ILD_BLEND50));
}

void TImageList::Clear() {
    ImageList_Remove(FHandle, -1);
}

void Frame3D(TCanvas &Canvas, RECT &Rect, TColor TopColor, TColor BottomColor, int Width) {
    Rect.right -= 1;
    Rect.bottom -= 1;
    for (int i = 0; i < Width; ++i) {
        Canvas.Pen().SetColor(TopColor);
        Canvas.Polyline({{Rect.left, Rect.bottom}, {Rect.left, Rect.top}, {Rect.right, Rect.top}});
        Canvas.Pen().SetColor(BottomColor);
        Canvas.Polyline({{Rect.right, Rect.top}, {Rect.right, Rect.bottom}, {Rect.left - 1, Rect.bottom}});
        InflateRect(&Rect, -1, -1);
    }
    Rect.right += 1;
    Rect.bottom += 1;
}
