// The location of one layer: where in the complex plane its image lies, kept as exact decimal
// texts, with three corner points kept in step; and the mappers that turn pixel positions into
// complex coordinates in double, extended or arbitrary precision on the calculation threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Classes.h"
#include "CompPersistent.h"
#include "CompValues.h"
#include "FracImage.h"
#include "FracTransform.h"
#include "HugeFPU.h"
#include "HugeMath.h"

class TMapping;

// max(round(log10 M + 10), 10): the decimal digits a magnification needs.
std::uint32_t MagnificationDigits(long double M);
// Fixed notation with 4 decimals after rounding to 8 significant digits, trailing zeros and point
// removed: 30 gives "30", 12.5 gives "12.5".
std::string FloatToTrimmedText(long double V);
// A - trunc(A / 360) * 360: 400 gives 40, -400 gives -40.
long double NormalizeDegrees(long double A);

// Turns pixel positions into complex coordinates; Setup takes every constant from the mapping so
// that a pixel costs a few multiplications. Mappers keep no per-pixel state: any number of
// threads map at once.
class TLocationMapper : public TObject {
public:
    // PIXEL of the context from its X and Y fields. Processor is the calling thread's processor;
    // only the arbitrary-precision mapper uses it.
    virtual void MapPixel(void *Context, THugeProcessor *Processor) const = 0;
    virtual void Setup(const TMapping &Mapping) = 0;
};

// Double and extended mappers: the same steps in TFloat; intermediate products run in 80 bits and
// px, py, u, re and im are stored as TFloat.
template <class TFloat> class TFloatMapper : public TLocationMapper {
public:
    void Setup(const TMapping &Mapping) override;
    void MapPixel(void *Context, THugeProcessor *Processor) const override;
    // The complex coordinate of the image point (X, Y), the image offset already added.
    void MapPoint(long double X, long double Y, TFloat &Re, TFloat &Im) const;

    TFloat CenterRe = 0, CenterIm = 0, Cos = 1, Scale = 0, Sin = 0, InvStretch = 1, SkewFactor = 0,
           OriginPX = 0, OriginPY = 0;
};

class TDoubleMapper : public TFloatMapper<double> {
public:
    DECLARE_CLASS_NAME(TDoubleMapper)
};

class TExtendedMapper : public TFloatMapper<long double> {
public:
    DECLARE_CLASS_NAME(TExtendedMapper)
};

// Arbitrary precision on the calling thread's processor stack; the constants are numbers of the
// mapping's digits, created here and never per pixel.
class THugeMapper : public TLocationMapper {
public:
    explicit THugeMapper(int Digits);
    DECLARE_CLASS_NAME(THugeMapper)
    void Setup(const TMapping &Mapping) override;
    void MapPixel(void *Context, THugeProcessor *Processor) const override;
    // As MapPixel, for an image point; the results are stored into Re and Im.
    void MapPoint(long double X, long double Y, THugeProcessor &Processor, THugeFloatBase &Re,
                  THugeFloatBase &Im) const;

    THugeFloat CenterRe, CenterIm, Cos, Scale, Sin, InvStretch, SkewFactor, OriginPX, OriginPY;
};

// OnUndoableChange: a change that makes an undo step with Caption.
using TMappingUndoableEvent = TMethod<void(TObject *Sender, const std::string &Caption)>;

class TMapping : public TObject {
public:
    TMapping();
    ~TMapping() override;
    TMapping(const TMapping &) = delete;
    TMapping &operator=(const TMapping &) = delete;
    DECLARE_CLASS_NAME(TMapping)

    // Flags of WriteParameters: write the "location" section instead of "mapping"; write the
    // transformations' file names without their folders.
    static constexpr std::uint32_t wpLocation = 1;
    static constexpr std::uint32_t wpShortFileName = 2;

    void WriteParameters(TParWriter &Writer, std::uint32_t Flags) const;
    // Reads a "mapping" or "location" section; the header may already have been read by the
    // caller. Any other section raises EInvalidParFile. Missing keys take their defaults. A
    // "mapping" section is followed by as many "transform" sections as it counts; transformations
    // without "solid" take DefaultSolid.
    void ReadParameters(TParReader &Reader, std::uint32_t DefaultSolid);
    void LoadParameters(TParReader &Reader) { ReadParameters(Reader, OpaqueBlack); }

    // Copies the location into the context in the current precision, with the image size.
    void InitContext(void *Context) const;
    // Maps the context's pixel and runs the transformations: 0, or FirstTransformCode + i when
    // transformation i made the point solid.
    std::int32_t MapPixel(void *Context, THugeProcessor *Processor) const;
    // The transformations on the context's PIXEL, as MapPixel runs them after the mapper.
    std::int32_t ApplyTransformations(void *Context, THugeProcessor *Processor) const;
    void DoneContext(void *Context) const;

    // Runs the GLOBAL routines of the transformations on a context.
    void ExecuteGlobals(void *Context, void *Processor) const;

    // A transformation with the mapping's precision and digits, not yet in the list.
    std::unique_ptr<TTransform> CreateTransformation() const;
    // Appended to an empty list, else inserted at the active index.
    void AddTransformation(std::unique_ptr<TTransform> &Transform);
    void AddTransformationEntry(const std::string &FileName, const std::string &EntryName);
    // The digits the transformations ask for, summed; whether all of them may render to disk.
    std::int32_t TransformationDigits() const;
    bool CanRender() const;
    void SetActiveTransformation(std::int32_t Index);
    std::int32_t GetActiveIndex() const { return FActiveIndex; }
    TTransformList &GetTransformations() const { return *FTransformations; }
    // The formula constants (location, size, maxiter) that every transformation compiles with;
    // a change is passed on to all of them at once.
    TFormulaConstants &GetConstants() const { return *FConstants; }

    // Sets the three corners at once and derives the location from them, as one change. Texts
    // that are no numbers raise EFloatValueError with nothing changed; corners that no location
    // can have raise it too and leave the location as it was.
    void SetCorners(const std::string &LeftTopRe, const std::string &LeftTopIm,
                    const std::string &RightBottomRe, const std::string &RightBottomIm,
                    const std::string &RightTopRe, const std::string &RightTopIm);

    // The exact complex coordinate of the image point (X, Y).
    void PointToLocation(TComplexValue &Location, long double X, long double Y) const;

    void SetWidth(std::int32_t W);
    void SetHeight(std::int32_t H);
    void SetPrecision(std::uint8_t P);
    void SetDigits(std::uint32_t D);
    void SetOrigin(std::int32_t X, std::int32_t Y);

    void BeginUpdate();
    void EndUpdate() { EndUpdateCaption(""); }
    void EndUpdateCaption(const std::string &Caption);

    std::int32_t GetWidth() const { return FWidth; }
    std::int32_t GetHeight() const { return FHeight; }
    std::int32_t GetOriginX() const { return FOriginX; }
    std::int32_t GetOriginY() const { return FOriginY; }
    std::uint8_t GetPrecision() const { return FPrecision; }
    std::uint32_t GetDigits() const { return FDigits; }
    std::int32_t GetDisplayDigits() const { return FDisplayDigits; }
    double GetCosAngle() const { return FCosAngle; }
    double GetSinAngle() const { return FSinAngle; }
    double GetSkewFactor() const { return FSkewFactor; }
    TLocationMapper &GetMapper() const { return *FMapper; }

    TFloatValue Angle, AngleDegrees, Magnification, PixelScale, Skew, SkewDegrees, Stretch;
    TComplexValue Center, LeftTop, RightBottom, RightTop;

    TNotifyEvent OnChange;
    TMappingUndoableEvent OnUndoableChange;

private:
    void ValidateMagnification(TObject *Sender, const std::string &Text, bool &Accept);
    void ValidateAngle(TObject *Sender, const std::string &Text, bool &Accept);
    void ValidateSkew(TObject *Sender, const std::string &Text, bool &Accept);
    void ValidateSkewDegrees(TObject *Sender, const std::string &Text, bool &Accept);
    void LocationChanged(TObject *Sender);
    void DegreesChanged(TObject *Sender);
    void CornerChanged(TObject *Sender);

    void SizeChanged();
    void UpdateDerived();
    void UpdateCorners();
    void LocationFromCorners();
    void Change();
    void UndoableChange(const std::string &Caption);
    void FirePending();
    void CreateMapper();
    void TransformationsModified(TObject *Sender, const std::string &Caption);
    void TransformationsChanged(TObject *Sender);
    void ConstantsChanged(TObject *Sender);
    // Runs Apply on every transformation inside one update of the mapping.
    template <class TApply> void ApplyToTransformations(TApply Apply);

    std::unique_ptr<TTransformList> FTransformations;
    std::unique_ptr<TFormulaConstants> FConstants;
    std::int32_t FActiveIndex = -1;

    bool FUpdating = false;
    double FCosAngle = 1, FSinAngle = 0, FSkewFactor = 0;
    std::uint32_t FDigits = 0;
    std::int32_t FDisplayDigits = 0;
    std::unique_ptr<TLocationMapper> FMapper;
    std::uint8_t FPrecision = 0;
    std::string FPendingCaption;
    std::uint8_t FPendingChange = 0;
    std::int32_t FUpdateCount = 0;
    std::int32_t FOriginX = 0, FHeight = 0, FOriginY = 0, FWidth = 0;
};
