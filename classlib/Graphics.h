// Colours, fonts, pens, brushes, canvases, bitmaps, icons and image lists of the class library.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "FontStyles.h"

// ---------------------------------------------------------------------------------------------
// Colours: 0x00BBGGRR, or a system colour 0xFF0000nn (nn a COLOR_ index) resolved by ColorToRGB.

using TColor = int32_t;

constexpr TColor clSystemColor = static_cast<TColor>(0xFF000000);
constexpr TColor clScrollBar = clSystemColor | COLOR_SCROLLBAR;
constexpr TColor clBackground = clSystemColor | COLOR_BACKGROUND;
constexpr TColor clActiveCaption = clSystemColor | COLOR_ACTIVECAPTION;
constexpr TColor clInactiveCaption = clSystemColor | COLOR_INACTIVECAPTION;
constexpr TColor clMenu = clSystemColor | COLOR_MENU;
constexpr TColor clWindow = clSystemColor | COLOR_WINDOW;
constexpr TColor clWindowFrame = clSystemColor | COLOR_WINDOWFRAME;
constexpr TColor clMenuText = clSystemColor | COLOR_MENUTEXT;
constexpr TColor clWindowText = clSystemColor | COLOR_WINDOWTEXT;
constexpr TColor clCaptionText = clSystemColor | COLOR_CAPTIONTEXT;
constexpr TColor clActiveBorder = clSystemColor | COLOR_ACTIVEBORDER;
constexpr TColor clInactiveBorder = clSystemColor | COLOR_INACTIVEBORDER;
constexpr TColor clAppWorkSpace = clSystemColor | COLOR_APPWORKSPACE;
constexpr TColor clHighlight = clSystemColor | COLOR_HIGHLIGHT;
constexpr TColor clHighlightText = clSystemColor | COLOR_HIGHLIGHTTEXT;
constexpr TColor clBtnFace = clSystemColor | COLOR_BTNFACE;
constexpr TColor clBtnShadow = clSystemColor | COLOR_BTNSHADOW;
constexpr TColor clGrayText = clSystemColor | COLOR_GRAYTEXT;
constexpr TColor clBtnText = clSystemColor | COLOR_BTNTEXT;
constexpr TColor clInactiveCaptionText = clSystemColor | COLOR_INACTIVECAPTIONTEXT;
constexpr TColor clBtnHighlight = clSystemColor | COLOR_BTNHIGHLIGHT;
constexpr TColor cl3DDkShadow = clSystemColor | COLOR_3DDKSHADOW;
constexpr TColor cl3DLight = clSystemColor | COLOR_3DLIGHT;
constexpr TColor clInfoText = clSystemColor | COLOR_INFOTEXT;
constexpr TColor clInfoBk = clSystemColor | COLOR_INFOBK;
constexpr TColor clGradientActiveCaption = clSystemColor | COLOR_GRADIENTACTIVECAPTION;
constexpr TColor clGradientInactiveCaption = clSystemColor | COLOR_GRADIENTINACTIVECAPTION;

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

// The RGB value of a colour; system colours are read from the system each time.
COLORREF ColorToRGB(TColor Color);

// GDI objects and device contexts that the class library holds now (fonts, pens, brushes,
// bitmaps, image lists and the device contexts of canvases). The system's own count is not
// available everywhere, so leaks of the library show here.
int LiveGdiObjects();
namespace classlib_detail {
void CountGdiObject(int Delta);
}

// ---------------------------------------------------------------------------------------------
// A GDI object handle that is deleted with its holder.

class TGdiHandle {
public:
    TGdiHandle() = default;
    explicit TGdiHandle(HGDIOBJ Handle) : FHandle(Handle) {}
    ~TGdiHandle() { Reset(); }
    TGdiHandle(const TGdiHandle &) = delete;
    TGdiHandle &operator=(const TGdiHandle &) = delete;
    void Reset(HGDIOBJ Handle = nullptr);
    HGDIOBJ Get() const { return FHandle; }
    HGDIOBJ Release() {
        HGDIOBJ handle = FHandle;
        FHandle = nullptr;
        return handle;
    }

private:
    HGDIOBJ FHandle = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Graphics objects: each builds its handle on first use and drops it on every change.

class TGraphicsObject : public TObject {
public:
    DECLARE_CLASS_NAME(TGraphicsObject)
    TGraphicsObject() = default;
    TGraphicsObject(const TGraphicsObject &) = delete;
    TGraphicsObject &operator=(const TGraphicsObject &) = delete;
    TNotifyEvent OnChange;

protected:
    void Changed();
    TGdiHandle FHandle;
};

class TFont : public TGraphicsObject {
public:
    DECLARE_CLASS_NAME(TFont)
    TFont(); // the system's message font (non-client metrics)
    void Assign(const TFont &Source);
    // Takes name, height, weight, italic, underline and strike-out of a LOGFONT.
    void AssignLogFont(const LOGFONTA &Font);
    HFONT Handle();
    const std::string &Name() const { return FName; }
    void SetName(const std::string &Value);
    // Height in pixels; negative values give the character height, positive the cell height.
    int Height() const { return FHeight; }
    void SetHeight(int Value);
    int Size() const; // points at the screen's resolution
    void SetSize(int Value);
    TFontStyles Style() const { return FStyle; }
    void SetStyle(TFontStyles Value);
    TColor Color() const { return FColor; }
    void SetColor(TColor Value);
    bool Equals(const TFont &Other) const;

private:
    std::string FName;
    int FHeight = -11;
    TFontStyles FStyle = 0;
    TColor FColor = clWindowText;
    uint8_t FCharSet = DEFAULT_CHARSET;
};

enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };

class TPen : public TGraphicsObject {
public:
    DECLARE_CLASS_NAME(TPen)
    HPEN Handle();
    TColor Color() const { return FColor; }
    void SetColor(TColor Value);
    int Width() const { return FWidth; }
    void SetWidth(int Value);
    TPenStyle Style() const { return FStyle; }
    void SetStyle(TPenStyle Value);
    // The raster mix (R2_COPYPEN, R2_NOT, ...), applied by the canvas.
    int Mode() const { return FMode; }
    void SetMode(int Value);
    void Assign(const TPen &Source);

private:
    TColor FColor = clBlack;
    int FWidth = 1;
    TPenStyle FStyle = psSolid;
    int FMode = R2_COPYPEN;
};

enum TBrushStyle {
    bsSolid,
    bsClear,
    bsHorizontal,
    bsVertical,
    bsFDiagonal,
    bsBDiagonal,
    bsCross,
    bsDiagCross
};

class TBitmap;

class TBrush : public TGraphicsObject {
public:
    DECLARE_CLASS_NAME(TBrush)
    TBrush();
    ~TBrush() override;
    HBRUSH Handle();
    TColor Color() const { return FColor; }
    void SetColor(TColor Value);
    TBrushStyle Style() const { return FStyle; }
    void SetStyle(TBrushStyle Value);
    // A pattern brush of the bitmap (not owned; it must live while the brush uses it).
    TBitmap *Bitmap() const { return FBitmap; }
    void SetBitmap(TBitmap *Value);
    void Assign(const TBrush &Source);

private:
    TColor FColor = clWhite;
    TBrushStyle FStyle = bsSolid;
    TBitmap *FBitmap = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Canvas: drawing on a device context with its pen, brush and font selected on demand.

class TGraphic;

struct TPoint {
    int X = 0, Y = 0;
};
inline TPoint Point(int X, int Y) {
    return TPoint{X, Y};
}
inline RECT Rect(int Left, int Top, int Right, int Bottom) {
    return RECT{Left, Top, Right, Bottom};
}
inline RECT Bounds(int Left, int Top, int Width, int Height) {
    return RECT{Left, Top, Left + Width, Top + Height};
}
inline bool PtInRect(const RECT &R, const TPoint &P) {
    return P.X >= R.left && P.X < R.right && P.Y >= R.top && P.Y < R.bottom;
}

class TCanvas : public TObject {
public:
    DECLARE_CLASS_NAME(TCanvas)
    TCanvas();
    ~TCanvas() override;
    TCanvas(const TCanvas &) = delete;
    TCanvas &operator=(const TCanvas &) = delete;

    // The device context; a canvas without one asks CreateHandle (raises when there is none).
    HDC Handle();
    // Hands the canvas a device context it does not own (nullptr detaches, deselecting the
    // canvas's objects first).
    void SetHandle(HDC Value);
    bool HandleAllocated() const { return FHandle != nullptr; }

    TFont &Font() { return *FFont; }
    TPen &Pen() { return *FPen; }
    TBrush &Brush() { return *FBrush; }

    void MoveTo(int X, int Y);
    void LineTo(int X, int Y);
    void Polygon(const std::vector<TPoint> &Points);
    void Polyline(const std::vector<TPoint> &Points);
    void Rectangle(int X1, int Y1, int X2, int Y2);
    void Rectangle(const RECT &R) { Rectangle(R.left, R.top, R.right, R.bottom); }
    void Ellipse(int X1, int Y1, int X2, int Y2);
    void FillRect(const RECT &R); // with the brush
    void FrameRect(const RECT &R);
    void DrawFocusRect(const RECT &R);
    void TextOut(int X, int Y, const std::string &Text);
    // Text in Rect, clipped to it, with DrawText flags (DT_END_ELLIPSIS, DT_VCENTER | DT_SINGLELINE,
    // ...). The brush fills the background unless its style is bsClear.
    void TextRect(RECT R, const std::string &Text, UINT Flags);
    SIZE TextExtent(const std::string &Text);
    int TextWidth(const std::string &Text) { return TextExtent(Text).cx; }
    int TextHeight(const std::string &Text) { return TextExtent(Text).cy; }
    void Draw(int X, int Y, TGraphic &Graphic);
    void StretchDraw(const RECT &R, TGraphic &Graphic);
    // Copies Source's SourceRect into DestRect with CopyMode.
    void CopyRect(const RECT &DestRect, TCanvas &Source, const RECT &SourceRect);
    DWORD CopyMode() const { return FCopyMode; }
    void SetCopyMode(DWORD Value) { FCopyMode = Value; }
    TColor Pixels(int X, int Y);
    void SetPixel(int X, int Y, TColor Color);
    TPoint PenPos() const { return FPenPos; }
    // Raster fill of a rectangle with the brush and a pattern operation (PATCOPY, PATINVERT).
    void PatBlt(const RECT &R, DWORD Rop);

protected:
    virtual void CreateHandle() {}
    // Selects the pen, brush and font into the context (after every change of them).
    void RequireObjects();

private:
    void ObjectChanged(TObject *Sender);
    void DeselectObjects();
    HDC FHandle = nullptr;
    std::unique_ptr<TFont> FFont;
    std::unique_ptr<TPen> FPen;
    std::unique_ptr<TBrush> FBrush;
    HGDIOBJ FOldFont = nullptr, FOldPen = nullptr, FOldBrush = nullptr;
    bool FObjectsValid = false;
    DWORD FCopyMode = SRCCOPY;
    TPoint FPenPos;
};

// Hands a canvas a device context for one scope (painting, owner-drawn items) and takes it
// back at the end, also when the drawing raises.
class TCanvasDCScope {
public:
    TCanvasDCScope(TCanvas &Canvas, HDC DC) : FCanvas(Canvas) { Canvas.SetHandle(DC); }
    ~TCanvasDCScope() { FCanvas.SetHandle(nullptr); }
    TCanvasDCScope(const TCanvasDCScope &) = delete;
    TCanvasDCScope &operator=(const TCanvasDCScope &) = delete;

private:
    TCanvas &FCanvas;
};

// ---------------------------------------------------------------------------------------------
// Graphics: bitmaps and icons.

class TGraphic : public TObject {
public:
    DECLARE_CLASS_NAME(TGraphic)
    TGraphic() = default;
    TGraphic(const TGraphic &) = delete;
    TGraphic &operator=(const TGraphic &) = delete;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual bool Empty() const = 0;
    virtual void Draw(TCanvas &Canvas, const RECT &R) = 0;
    TNotifyEvent OnChange;
};

enum TPixelFormat { pfDevice, pf24bit, pf32bit };

class TBitmapCanvas;

class TBitmap : public TGraphic {
public:
    DECLARE_CLASS_NAME(TBitmap)
    TBitmap();
    TBitmap(int AWidth, int AHeight, TPixelFormat Format = pfDevice);
    ~TBitmap() override;
    int Width() const override { return FWidth; }
    int Height() const override { return FHeight; }
    bool Empty() const override { return FWidth == 0 || FHeight == 0; }
    void SetSize(int AWidth, int AHeight); // keeps the pixel format; the content is undefined
    void SetWidth(int Value) { SetSize(Value, FHeight); }
    void SetHeight(int Value) { SetSize(FWidth, Value); }
    TPixelFormat PixelFormat() const { return FFormat; }
    // Converts the content to the new format.
    void SetPixelFormat(TPixelFormat Value);
    HBITMAP Handle();
    // Takes ownership of Value (the size and format are read from it).
    void SetHandle(HBITMAP Value);
    // Gives up ownership of the bitmap handle.
    HBITMAP ReleaseHandle();
    TCanvas &Canvas();
    void Assign(TBitmap &Source);
    // Loads a bitmap resource of Instance (a device-dependent bitmap). Raises EResNotFound.
    void LoadFromResourceName(HINSTANCE Instance, const std::string &Name);
    // Loads a .bmp file as a DIB section. Raises EInvalidGraphic when the file cannot be read as
    // a bitmap.
    void LoadFromFile(const std::string &FileName);
    // The colour left out when the bitmap is drawn transparently: its bottom-left pixel.
    TColor TransparentColor();
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool Value) { FTransparent = Value; }
    void Draw(TCanvas &Canvas, const RECT &R) override;
    // The direct pixel rows of a 24- or 32-bit bitmap (bottom-up DIB section); nullptr otherwise.
    void *ScanLine(int Row);

private:
    void FreeImage();
    void NewImage(int AWidth, int AHeight, TPixelFormat Format);
    friend class TBitmapCanvas;
    HBITMAP FHandle = nullptr;
    void *FBits = nullptr;
    int FWidth = 0, FHeight = 0;
    TPixelFormat FFormat = pfDevice;
    bool FTransparent = false;
    std::unique_ptr<TBitmapCanvas> FCanvas;
};

DECLARE_EXCEPTION(EResNotFound, Exception);
DECLARE_EXCEPTION(EInvalidGraphic, Exception);

class TIcon : public TGraphic {
public:
    DECLARE_CLASS_NAME(TIcon)
    TIcon() = default;
    ~TIcon() override;
    int Width() const override { return FWidth; }
    int Height() const override { return FHeight; }
    bool Empty() const override { return FHandle == nullptr; }
    HICON Handle() const { return FHandle; }
    // Takes ownership.
    void SetHandle(HICON Value);
    HICON ReleaseHandle();
    void LoadFromResourceName(HINSTANCE Instance, const std::string &Name);
    void Draw(TCanvas &Canvas, const RECT &R) override;

private:
    HICON FHandle = nullptr;
    int FWidth = 0, FHeight = 0;
};

// A list of equally sized images with masks.
class TImageList : public TObject {
public:
    DECLARE_CLASS_NAME(TImageList)
    TImageList(int AWidth, int AHeight);
    ~TImageList() override;
    TImageList(const TImageList &) = delete;
    TImageList &operator=(const TImageList &) = delete;
    HIMAGELIST Handle() const { return FHandle; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    int Count() const;
    // Adds the images of a strip; pixels of MaskColor are transparent. Returns the first index.
    int AddMasked(TBitmap &Image, TColor MaskColor);
    int AddIcon(TIcon &Icon);
    void Draw(TCanvas &Canvas, int X, int Y, int Index, bool Enabled = true);
    void Clear();

private:
    HIMAGELIST FHandle = nullptr;
    int FWidth, FHeight;
};

// ---------------------------------------------------------------------------------------------
// 3D frames: a 1-pixel frame of Width lines inside Rect, TopColor on the top and left edge,
// BottomColor on the bottom and right; Rect shrinks by the frame.
void Frame3D(TCanvas &Canvas, RECT &Rect, TColor TopColor, TColor BottomColor, int Width);
