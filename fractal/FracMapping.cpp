#include "FracMapping.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "CompDefinitions.h"
#include "CompMessages.h"
#include "CompPixelContext.h"
#include "FracFormulaBase.h"

namespace {

constexpr long double Pi = std::numbers::pi_v<long double>;

// A number of Digits digits from an exact text or an 80-bit value.
THugeFloat HugeOf(int Digits, const std::string &Text) {
    THugeFloat result(Digits);
    result.SetText(Text);
    return result;
}

THugeFloat HugeOf(int Digits, long double Value) {
    THugeFloat result(Digits);
    result.SetExtended(Value);
    return result;
}

int ClampDigits(std::int64_t Digits) {
    return static_cast<int>(std::clamp<std::int64_t>(Digits, HugeMinDigits, HugeMaxDigits));
}

// Sets a flag for the lifetime of the guard.
class TFlagGuard {
public:
    explicit TFlagGuard(bool &AFlag) : Flag(AFlag) { Flag = true; }
    ~TFlagGuard() { Flag = false; }
    TFlagGuard(const TFlagGuard &) = delete;
    TFlagGuard &operator=(const TFlagGuard &) = delete;

private:
    bool &Flag;
};

template <class T> T &Field(void *Context, std::int32_t Offset) {
    return *reinterpret_cast<T *>(static_cast<std::uint8_t *>(Context) + Offset);
}

} // namespace

std::uint32_t MagnificationDigits(long double M) {
    const long double digits = std::round(std::log10(M) + 10);
    if (!(digits > 10)) // also NaN
        return 10;
    return static_cast<std::uint32_t>(std::min<long double>(digits, HugeMaxDigits));
}

std::string FloatToTrimmedText(long double V) {
    std::string text = FloatToStrF(V, ffFixed, 8, 4);
    if (text.find('.') != std::string::npos && text.find_first_of("eE") == std::string::npos) {
        while (!text.empty() && text.back() == '0')
            text.pop_back();
        if (!text.empty() && text.back() == '.')
            text.pop_back();
    }
    if (text == "-0")
        text = "0";
    return text;
}

long double NormalizeDegrees(long double A) {
    return A - std::trunc(A / 360) * 360;
}

// ---------------------------------------------------------------------------------------------
// Mappers

template <class TFloat> void TFloatMapper<TFloat>::Setup(const TMapping &Mapping) {
    long double re, im;
    Mapping.Center.GetValue(re, im);
    CenterRe = static_cast<TFloat>(re);
    CenterIm = static_cast<TFloat>(im);
    Scale = static_cast<TFloat>(Mapping.PixelScale.GetValue());
    InvStretch = static_cast<TFloat>(1.0L / Mapping.Stretch.GetValue());
    Cos = static_cast<TFloat>(Mapping.GetCosAngle());
    Sin = static_cast<TFloat>(Mapping.GetSinAngle());
    SkewFactor = static_cast<TFloat>(Mapping.GetSkewFactor());
    OriginPX = static_cast<TFloat>(-(Mapping.GetWidth() / 2));
    OriginPY = static_cast<TFloat>(Mapping.GetHeight() / 2);
}

template <class TFloat>
void TFloatMapper<TFloat>::MapPoint(long double X, long double Y, TFloat &Re, TFloat &Im) const {
    // Each named step is stored in TFloat; what lies between runs in 80-bit registers.
    const TFloat px = static_cast<TFloat>(OriginPX + X);
    const TFloat py = static_cast<TFloat>(OriginPY - Y);
    const TFloat u = static_cast<TFloat>((static_cast<long double>(py) * SkewFactor + px) * InvStretch);
    Re = static_cast<TFloat>(
        (static_cast<long double>(u) * Cos - static_cast<long double>(py) * Sin) * Scale + CenterRe);
    Im = static_cast<TFloat>(
        (static_cast<long double>(py) * Cos + static_cast<long double>(u) * Sin) * Scale + CenterIm);
}

template <class TFloat> void TFloatMapper<TFloat>::MapPixel(void *Context, THugeProcessor *) const {
    const auto &context = *static_cast<const TPixelContext *>(Context);
    TFloat re, im;
    MapPoint(context.X, context.Y, re, im);
    const TContextValueOffsets &values = ContextValueOffsets[sizeof(TFloat) == sizeof(double) ? 0 : 1];
    if constexpr (sizeof(TFloat) == sizeof(double)) {
        Field<double>(Context, values.Pixel) = re;
        Field<double>(Context, values.Pixel + values.ImaginaryStep) = im;
    } else {
        Field<long double>(Context, values.Pixel) = re;
        Field<long double>(Context, values.Pixel + values.ImaginaryStep) = im;
    }
}

template class TFloatMapper<double>;
template class TFloatMapper<long double>;

THugeMapper::THugeMapper(int Digits)
    : CenterRe(ClampDigits(Digits)), CenterIm(ClampDigits(Digits)), Cos(ClampDigits(Digits)),
      Scale(ClampDigits(Digits)), Sin(ClampDigits(Digits)), InvStretch(ClampDigits(Digits)),
      SkewFactor(ClampDigits(Digits)), OriginPX(ClampDigits(Digits)), OriginPY(ClampDigits(Digits)) {}

void THugeMapper::Setup(const TMapping &Mapping) {
    CenterRe.SetText(Mapping.Center.Re.GetText());
    CenterIm.SetText(Mapping.Center.Im.GetText());
    Scale.SetText(Mapping.PixelScale.GetText());
    // The exact reciprocal of the stretch text, not of its 80-bit value.
    InvStretch.SetText(Mapping.Stretch.GetText());
    InvStretch.Reciprocal();
    Cos.SetExtended(Mapping.GetCosAngle());
    Sin.SetExtended(Mapping.GetSinAngle());
    SkewFactor.SetExtended(Mapping.GetSkewFactor());
    OriginPX.SetInteger(-(Mapping.GetWidth() / 2));
    OriginPY.SetInteger(Mapping.GetHeight() / 2);
}

void THugeMapper::MapPoint(long double X, long double Y, THugeProcessor &P, THugeFloatBase &Re,
                           THugeFloatBase &Im) const {
    // Stack pictures list the registers top first.
    P.LoadHuge(OriginPY);
    P.LoadExtended(Y);
    P.SubtractPop(1); // [py]
    P.LoadHuge(OriginPX);
    P.LoadExtended(X);
    P.AddPop(1); // [px py]
    P.LoadHuge(SkewFactor);
    P.Multiply(2); // [k*py px py]
    P.AddPop(1);   // [px+k*py py]
    P.LoadHuge(InvStretch);
    P.MultiplyPop(1); // [u py]
    P.LoadHuge(Cos);
    P.LoadHuge(Sin); // [s c u py]
    P.LoadRegister(2);
    P.Multiply(2); // [u*c s c u py]
    P.LoadRegister(4);
    P.Multiply(2);     // [py*s u*c s c u py]
    P.SubtractPop(1);  // [re' s c u py]
    P.LoadRegister(4); // [py re' s c u py]
    P.Multiply(3);     // [py*c re' s c u py]
    P.LoadRegister(4); // [u py*c re' s c u py]
    P.Multiply(3);     // [u*s py*c re' s c u py]
    P.AddPop(1);       // [im' re' s c u py]
    P.LoadHuge(Scale);
    P.MultiplyTo(1);
    P.MultiplyTo(2);
    P.Pop(); // [im'*S re'*S s c u py]
    P.LoadHuge(CenterIm);
    P.AddPop(1);
    P.StoreHugePop(Im);
    P.LoadHuge(CenterRe);
    P.AddPop(1);
    P.StoreHugePop(Re);
    for (int i = 0; i < 4; ++i)
        P.Pop();
}

void THugeMapper::MapPixel(void *Context, THugeProcessor *Processor) const {
    if (!Processor)
        return;
    const auto &context = *static_cast<const TPixelContext *>(Context);
    const TContextValueOffsets &values = ContextValueOffsets[2];
    auto *re = Field<THugeFloatBase *>(Context, values.Pixel);
    auto *im = Field<THugeFloatBase *>(Context, values.Pixel + values.ImaginaryStep);
    if (re && im)
        MapPoint(context.X, context.Y, *Processor, *re, *im);
}

// ---------------------------------------------------------------------------------------------
// TMapping

TMapping::TMapping() {
    Magnification.SetTextQuiet("1");
    Stretch.SetTextQuiet("1");
    PixelScale.SetTextQuiet("0");
    Magnification.OnValidate = MakeEvent<&TMapping::ValidateMagnification>(this);
    Stretch.OnValidate = MakeEvent<&TMapping::ValidateMagnification>(this);
    Angle.OnValidate = MakeEvent<&TMapping::ValidateAngle>(this);
    Skew.OnValidate = MakeEvent<&TMapping::ValidateSkew>(this);
    // 90 degrees reach pi/2 only up to the last digit of a 19-digit text: refuse them as degrees.
    SkewDegrees.OnValidate = MakeEvent<&TMapping::ValidateSkewDegrees>(this);
    for (TFloatValue *value : {&Magnification, &Stretch, &Angle, &Skew})
        value->OnChange = MakeEvent<&TMapping::LocationChanged>(this);
    Center.OnChange = MakeEvent<&TMapping::LocationChanged>(this);
    AngleDegrees.OnChange = MakeEvent<&TMapping::DegreesChanged>(this);
    SkewDegrees.OnChange = MakeEvent<&TMapping::DegreesChanged>(this);
    for (TComplexValue *corner : {&LeftTop, &RightBottom, &RightTop})
        corner->OnChange = MakeEvent<&TMapping::CornerChanged>(this);
    FMapper = std::make_unique<TDoubleMapper>();
    FTransformations = std::make_unique<TTransformList>();
    FTransformations->OnModify = MakeEvent<&TMapping::TransformationsModified>(this);
    FTransformations->OnChange = MakeEvent<&TMapping::TransformationsChanged>(this);
    FConstants = std::make_unique<TFormulaConstants>();
    FConstants->OnChange = MakeEvent<&TMapping::ConstantsChanged>(this);
}

TMapping::~TMapping() = default;

void TMapping::TransformationsModified(TObject *, const std::string &Caption) {
    const std::int32_t count = FTransformations->GetCount();
    FActiveIndex = count == 0 ? -1 : std::clamp(FActiveIndex, 0, count - 1);
    UndoableChange(Caption);
}

void TMapping::TransformationsChanged(TObject *) {
    Change();
}

template <class TApply> void TMapping::ApplyToTransformations(TApply Apply) {
    // The transformations' own change reports (each a recompile) end in one change of the mapping.
    BeginUpdate();
    try {
        for (int i = 0; i < FTransformations->GetCount(); ++i)
            Apply(FTransformations->GetItem(i));
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TMapping::ConstantsChanged(TObject *) {
    if (FUpdating)
        return;
    {
        TFlagGuard updating(FUpdating);
        ApplyToTransformations(
            [this](TTransform &Transform) { Transform.GetConstants().Assign(*FConstants); });
    }
    Change();
}

std::unique_ptr<TTransform> TMapping::CreateTransformation() const {
    auto transform = std::make_unique<TTransform>();
    transform->SetDigits(static_cast<std::int32_t>(FDigits));
    transform->SetPrecision(FPrecision);
    transform->GetConstants().Assign(*FConstants);
    return transform;
}

void TMapping::AddTransformation(std::unique_ptr<TTransform> &Transform) {
    BeginUpdate();
    try {
        const int at = FTransformations->GetCount() == 0 ? 0 : std::max(FActiveIndex, 0);
        FTransformations->Insert(at, Transform);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdateCaption("Add Transformation");
}

void TMapping::AddTransformationEntry(const std::string &FileName, const std::string &EntryName) {
    std::unique_ptr<TTransform> transform = CreateTransformation();
    if (ErrorManager())
        ErrorManager()->SetFormula(transform.get());
    transform->SetSource(FileName, EntryName);
    AddTransformation(transform);
}

std::int32_t TMapping::TransformationDigits() const {
    std::int32_t digits = 0;
    for (int i = 0; i < FTransformations->GetCount(); ++i)
        digits += FTransformations->GetItem(i).GetExtraDigits();
    return digits;
}

bool TMapping::CanRender() const {
    for (int i = 0; i < FTransformations->GetCount(); ++i)
        if (!FTransformations->GetItem(i).GetRender())
            return false;
    return true;
}

void TMapping::SetActiveTransformation(std::int32_t Index) {
    if (Index == FActiveIndex || Index < 0 || Index >= FTransformations->GetCount())
        return;
    FActiveIndex = Index;
    Change();
}

void TMapping::ValidateMagnification(TObject *, const std::string &Text, bool &Accept) {
    // Zero and negative values are refused too: the pixel scale divides by the magnification and
    // the digit count takes its logarithm.
    const long double value = FloatTextToExtended(Text);
    Accept = value > 0 && value <= 1e4000L;
}

void TMapping::ValidateAngle(TObject *, const std::string &Text, bool &Accept) {
    const long double value = FloatTextToExtended(Text);
    Accept = value >= -2 * Pi && value <= 2 * Pi;
}

void TMapping::ValidateSkew(TObject *, const std::string &Text, bool &Accept) {
    const long double value = FloatTextToExtended(Text);
    Accept = value > -Pi / 2 && value < Pi / 2;
}

void TMapping::ValidateSkewDegrees(TObject *, const std::string &Text, bool &Accept) {
    const long double value = FloatTextToExtended(Text);
    Accept = value > -90 && value < 90;
}

void TMapping::LocationChanged(TObject *Sender) {
    if (FUpdating)
        return;
    {
        TFlagGuard updating(FUpdating);
        UpdateCorners();
    }
    const char *caption = Sender == &Center          ? "Center"
                          : Sender == &Magnification ? "Magnification"
                          : Sender == &Angle         ? "Rotation Angle"
                          : Sender == &Stretch       ? "Stretch"
                                                     : "Skew Angle";
    UndoableChange(caption);
}

void TMapping::DegreesChanged(TObject *Sender) {
    if (FUpdating)
        return;
    {
        TFlagGuard updating(FUpdating);
        if (Sender == &AngleDegrees)
            Angle.SetValue(AngleDegrees.GetValue() * Pi / 180);
        else
            Skew.SetValue(SkewDegrees.GetValue() * Pi / 180);
        UpdateCorners();
    }
    UndoableChange(Sender == &AngleDegrees ? "Rotation Angle" : "Skew Angle");
}

void TMapping::SetCorners(const std::string &LeftTopRe, const std::string &LeftTopIm,
                          const std::string &RightBottomRe, const std::string &RightBottomIm,
                          const std::string &RightTopRe, const std::string &RightTopIm) {
    for (const std::string *text :
         {&LeftTopRe, &LeftTopIm, &RightBottomRe, &RightBottomIm, &RightTopRe, &RightTopIm})
        if (!IsValidFloatText(*text))
            throw EFloatValueError("Invalid floating-point number: '%s'", *text);
    // Set one by one, each corner would derive a location from two corners of the old view, which
    // may be no location at all.
    {
        TFlagGuard updating(FUpdating);
        LeftTop.Re.SetTextQuiet(LeftTopRe);
        LeftTop.Im.SetTextQuiet(LeftTopIm);
        RightBottom.Re.SetTextQuiet(RightBottomRe);
        RightBottom.Im.SetTextQuiet(RightBottomIm);
        RightTop.Re.SetTextQuiet(RightTopRe);
        RightTop.Im.SetTextQuiet(RightTopIm);
        LocationFromCorners();
    }
    UndoableChange("Corners");
}

void TMapping::CornerChanged(TObject *Sender) {
    if (FUpdating)
        return;
    {
        TFlagGuard updating(FUpdating);
        LocationFromCorners();
    }
    UndoableChange(Sender == &LeftTop ? "Left Top" : Sender == &RightBottom ? "Right Bottom" : "Right Top");
}

void TMapping::UpdateDerived() {
    if (FWidth == 0 || FHeight == 0)
        return;
    const long double magnification = Magnification.GetValue();
    const long double extent = std::max(FWidth, FHeight);
    FDisplayDigits =
        std::max(static_cast<std::int32_t>(std::lround(std::log10(magnification * extent))) + 2, 5);

    // The pixel step carries 20 digits beyond those the magnification needs: a step rounded to
    // the magnification's own digits moves the far pixels of a wide image by 1e-10 of the view,
    // which the chaotic orbits of some fractals turn into other colours.
    const int digits = ClampDigits(MagnificationDigits(magnification) + 20);
    THugeFloat scale = HugeOf(digits, Magnification.GetText());
    THugeFloat side(digits);
    if (3LL * FWidth > 4LL * FHeight) {
        side.SetInteger(FHeight);
        scale.Multiply(side); // M * H
        side.SetInteger(3);
    } else {
        side.SetInteger(FWidth);
        scale.Multiply(side); // M * W
        side.SetInteger(4);
    }
    scale.DivideRev(side);
    PixelScale.SetText(scale.GetText());

    const long double angle = Angle.GetValue(), skew = Skew.GetValue();
    FSinAngle = static_cast<double>(std::sin(angle));
    FCosAngle = static_cast<double>(std::cos(angle));
    FSkewFactor = static_cast<double>(std::tan(-skew));
    AngleDegrees.SetText(FloatToTrimmedText(angle * 180 / Pi));
    SkewDegrees.SetText(FloatToTrimmedText(skew * 180 / Pi));
    FMapper->Setup(*this);
}

void TMapping::UpdateCorners() {
    if (FWidth == 0 || FHeight == 0)
        return;
    UpdateDerived();
    const int digits = ClampDigits(MagnificationDigits(Magnification.GetValue()));
    THugeFloat hx(digits), hy(digits), width(digits, FWidth), height(digits, FHeight);
    const THugeFloat magnification = HugeOf(digits, Magnification.GetText());
    if (3LL * FWidth > 4LL * FHeight) {
        hy.SetText("1.5");
        hy.Divide(magnification);
        hx.Assign(hy);
        hx.Multiply(width);
        hx.Divide(height);
    } else {
        hx.SetInteger(2);
        hx.Divide(magnification);
        hy.Assign(hx);
        hy.Multiply(height);
        hy.Divide(width);
    }
    const THugeFloat q = HugeOf(digits, 1.0L / Stretch.GetValue());
    const THugeFloat k = HugeOf(digits, FSkewFactor), s = HugeOf(digits, FSinAngle),
                     c = HugeOf(digits, FCosAngle);
    const THugeFloat centerRe = HugeOf(digits, Center.Re.GetText()),
                     centerIm = HugeOf(digits, Center.Im.GetText());
    THugeFloat hyk(hy);
    hyk.Multiply(k);

    auto setCorner = [&](TComplexValue &Corner, const THugeFloat &X, const THugeFloat &Y) {
        THugeFloat re(X), im(X), t(Y);
        re.Multiply(c);
        t.Multiply(s);
        re.Subtract(t); // x*c - y*s
        im.Multiply(s);
        t.Assign(Y);
        t.Multiply(c);
        im.Add(t); // x*s + y*c
        re.Add(centerRe);
        im.Add(centerIm);
        Corner.SetText(re.GetText(), im.GetText());
    };
    THugeFloat x(hyk), minusHy(hy);
    minusHy.Negate();
    x.Subtract(hx);
    x.Multiply(q);
    setCorner(LeftTop, x, hy);
    x.Assign(hyk);
    x.Add(hx);
    x.Multiply(q);
    setCorner(RightTop, x, hy);
    x.Assign(hx);
    x.Subtract(hyk);
    x.Multiply(q);
    setCorner(RightBottom, x, minusHy);
}

void TMapping::LocationFromCorners() {
    if (FWidth == 0 || FHeight == 0)
        return;
    // Enough digits to tell the corners apart: grow in steps of 40 while they coincide.
    auto unresolved = [&](int Digits) {
        const THugeFloat eps = [&] {
            THugeFloat e(Digits, 1);
            e.MultiplyPowerOfTwo(-static_cast<std::int32_t>(Digits * 3.32192809488));
            return e;
        }();
        auto close = [&](const TFloatValue &A, const TFloatValue &B) {
            THugeFloat d = HugeOf(Digits, A.GetText());
            d.Subtract(HugeOf(Digits, B.GetText()));
            d.Abs();
            d.Subtract(eps);
            return d.Sign() < 0;
        };
        return (close(LeftTop.Re, RightBottom.Re) && close(RightTop.Re, RightBottom.Re)) ||
               (close(LeftTop.Im, RightBottom.Im) && close(RightTop.Im, RightBottom.Im));
    };
    int d = 40;
    while (d < HugeMaxDigits && unresolved(d))
        d += 40;
    d = ClampDigits(d + 40);

    const THugeFloat ltRe = HugeOf(d, LeftTop.Re.GetText()), ltIm = HugeOf(d, LeftTop.Im.GetText());
    const THugeFloat rbRe = HugeOf(d, RightBottom.Re.GetText()), rbIm = HugeOf(d, RightBottom.Im.GetText());
    const THugeFloat rtRe = HugeOf(d, RightTop.Re.GetText()), rtIm = HugeOf(d, RightTop.Im.GetText());

    THugeFloat centerRe(ltRe), centerIm(ltIm);
    centerRe.Add(rbRe);
    centerRe.DivideByTwo();
    centerIm.Add(rbIm);
    centerIm.DivideByTwo();

    auto distanceSquared = [&](const THugeFloat &ARe, const THugeFloat &AIm, const THugeFloat &BRe,
                               const THugeFloat &BIm) {
        THugeFloat x(BRe), y(BIm);
        x.Subtract(ARe);
        y.Subtract(AIm);
        x.Square();
        y.Square();
        x.Add(y);
        return x;
    };
    THugeFloat dx(rtRe), dy(rtIm);
    dx.Subtract(ltRe);
    dy.Subtract(ltIm);
    THugeFloat angle(dy);
    angle.ArcTan2(dx);
    THugeFloat w2 = distanceSquared(ltRe, ltIm, rtRe, rtIm);
    THugeFloat w(w2);
    w.Sqrt();
    THugeFloat h2 = distanceSquared(rtRe, rtIm, rbRe, rbIm);
    THugeFloat h(h2);
    h.Sqrt();
    const THugeFloat g = distanceSquared(ltRe, ltIm, rbRe, rbIm);

    THugeFloat t(w2);
    t.Add(h2);
    t.Subtract(g);
    THugeFloat twoWH(w);
    twoWH.Multiply(h);
    twoWH.MultiplyByTwo();
    if (twoWH.Sign() > 0)
        t.Divide(twoWH);
    // Rounding can carry the cosine a hair beyond 1 in magnitude; the arc cosine would give NaN.
    const THugeFloat one(d, 1);
    if (t.Sign() > 0) {
        THugeFloat excess(t);
        excess.Subtract(one);
        if (excess.Sign() > 0)
            t.Assign(one);
    } else {
        THugeFloat excess(t);
        excess.Add(one);
        if (excess.Sign() < 0) {
            t.Assign(one);
            t.Negate();
        }
    }
    THugeFloat theta(t);
    theta.ArcCos();
    THugeFloat skew(theta), halfPi(d);
    halfPi.LoadPi();
    halfPi.DivideByTwo();
    skew.Subtract(halfPi);
    THugeFloat sinTheta(theta);
    sinTheta.Sin();
    THugeFloat hPrime(h);
    hPrime.Multiply(sinTheta);

    long double stretch = 1;
    const long double wValue = w.GetExtended(), hPrimeValue = hPrime.GetExtended();
    if (wValue != 0)
        stretch = (FWidth * hPrimeValue) / (FHeight * wValue);
    if (stretch <= 0.001L)
        stretch = 0.001L;
    const std::string stretchText = FloatToTrimmedText(stretch);
    const long double storedStretch = FloatTextToExtended(stretchText);
    long double magnification = 1;
    if (3LL * FWidth < 4LL * FHeight) {
        if (wValue != 0)
            magnification = 4 / (storedStretch * wValue);
    } else if (hPrimeValue != 0) {
        magnification = 3 / hPrimeValue;
    }
    const std::string magnificationText = FloatToStrF(magnification, ffGeneral, 8, 0);
    const long double skewValue =
        std::atan2(storedStretch * std::tan(FloatTextToExtended(skew.GetText())), 1.0L);

    // Corners that no location can have (a skew of 90 degrees, a magnification out of range) are
    // refused before anything changes: the corners go back to the location's own.
    const std::string skewDegrees = FloatToTrimmedText(skewValue * 180 / Pi);
    const long double skewDegreesValue = FloatTextToExtended(skewDegrees);
    const long double magnificationValue = FloatTextToExtended(magnificationText);
    std::string refused;
    if (!(skewDegreesValue > -90 && skewDegreesValue < 90 && skewValue > -Pi / 2 && skewValue < Pi / 2))
        refused = skewDegrees;
    else if (!(magnificationValue > 0 && magnificationValue <= 1e4000L))
        refused = magnificationText;
    if (!refused.empty()) {
        UpdateCorners();
        throw EFloatValueError("Floating-point number out of range: '%s'", refused);
    }
    Center.SetText(centerRe.GetText(), centerIm.GetText());
    Angle.SetText(angle.GetText());
    Stretch.SetText(stretchText);
    Magnification.SetText(magnificationText);
    Skew.SetValue(skewValue);
    UpdateDerived();
}

void TMapping::PointToLocation(TComplexValue &Location, long double X, long double Y) const {
    const double px = static_cast<double>(X + FOriginX - FWidth / 2);
    const double py = static_cast<double>(FHeight / 2 - (Y + FOriginY));
    const double u = static_cast<double>((py * FSkewFactor + px) / Stretch.GetValue());
    const int digits = ClampDigits(MagnificationDigits(Magnification.GetValue()));
    const THugeFloat scale = HugeOf(digits, PixelScale.GetText());
    THugeFloat re =
        HugeOf(digits, static_cast<long double>(u) * FCosAngle - static_cast<long double>(py) * FSinAngle);
    THugeFloat im =
        HugeOf(digits, static_cast<long double>(py) * FCosAngle + static_cast<long double>(u) * FSinAngle);
    re.Multiply(scale);
    im.Multiply(scale);
    re.Add(HugeOf(digits, Center.Re.GetText()));
    im.Add(HugeOf(digits, Center.Im.GetText()));
    Location.SetText(re.GetText(), im.GetText());
}

// ---------------------------------------------------------------------------------------------
// Size, precision, changes

void TMapping::SetWidth(std::int32_t W) {
    if (W == FWidth)
        return;
    FWidth = W;
    SizeChanged();
}

void TMapping::SetHeight(std::int32_t H) {
    if (H == FHeight)
        return;
    FHeight = H;
    SizeChanged();
}

void TMapping::SizeChanged() {
    {
        TFlagGuard updating(FUpdating);
        UpdateCorners();
        FMapper->Setup(*this);
    }
    UndoableChange("Image Size");
}

void TMapping::SetOrigin(std::int32_t X, std::int32_t Y) {
    FOriginX = X;
    FOriginY = Y;
}

void TMapping::CreateMapper() {
    if (FPrecision == 0)
        FMapper = std::make_unique<TDoubleMapper>();
    else if (FPrecision == 1)
        FMapper = std::make_unique<TExtendedMapper>();
    else
        FMapper = std::make_unique<THugeMapper>(static_cast<int>(FDigits));
    FMapper->Setup(*this);
}

void TMapping::SetPrecision(std::uint8_t P) {
    if (P == FPrecision)
        return;
    FPrecision = P;
    CreateMapper();
    ApplyToTransformations([P](TTransform &Transform) { Transform.SetPrecision(P); });
}

void TMapping::SetDigits(std::uint32_t D) {
    if (D == FDigits)
        return;
    FDigits = D;
    if (FPrecision >= 2)
        CreateMapper();
    ApplyToTransformations([D](TTransform &Transform) { Transform.SetDigits(static_cast<std::int32_t>(D)); });
}

void TMapping::BeginUpdate() {
    ++FUpdateCount;
}

void TMapping::EndUpdateCaption(const std::string &Caption) {
    if (--FUpdateCount >= 1)
        return;
    FUpdateCount = 0;
    if (!Caption.empty())
        FPendingCaption = Caption;
    FirePending();
}

void TMapping::Change() {
    if (FPendingChange != 2)
        FPendingChange = 1;
    if (FUpdateCount == 0)
        FirePending();
}

void TMapping::UndoableChange(const std::string &Caption) {
    FPendingChange = 2;
    FPendingCaption = Caption;
    if (FUpdateCount == 0)
        FirePending();
}

void TMapping::FirePending() {
    const std::uint8_t pending = FPendingChange;
    FPendingChange = 0;
    if (pending == 1) {
        if (OnChange)
            OnChange(this);
    } else if (pending == 2) {
        const std::string caption = FPendingCaption;
        FPendingCaption.clear();
        if (OnUndoableChange)
            OnUndoableChange(this, caption);
    }
}

// ---------------------------------------------------------------------------------------------
// Calculation

void TMapping::InitContext(void *Context) const {
    auto &context = *static_cast<TPixelContext *>(Context);
    const TContextValueOffsets &values = ContextValueOffsets[FPrecision > 2 ? 2 : FPrecision];
    const TFloatValue *reals[5] = {&Magnification, &PixelScale, &Stretch, &Angle, &Skew};
    const std::int32_t offsets[5] = {values.Magn, values.PixelScale, values.Stretch, values.Angle,
                                     values.Skew};
    if (FPrecision == 0) {
        Field<double>(Context, values.Center) = static_cast<double>(Center.Re.GetValue());
        Field<double>(Context, values.Center + 8) = static_cast<double>(Center.Im.GetValue());
        for (int i = 0; i < 5; ++i)
            Field<double>(Context, offsets[i]) = static_cast<double>(reals[i]->GetValue());
    } else if (FPrecision == 1) {
        Field<long double>(Context, values.Center) = Center.Re.GetValue();
        Field<long double>(Context, values.Center + 16) = Center.Im.GetValue();
        for (int i = 0; i < 5; ++i)
            Field<long double>(Context, offsets[i]) = reals[i]->GetValue();
    } else {
        auto set = [&](std::int32_t Offset, const std::string &Text) {
            if (auto *number = Field<THugeFloatBase *>(Context, Offset))
                number->SetText(Text);
        };
        set(values.Center, Center.Re.GetText());
        set(values.Center + 4, Center.Im.GetText());
        for (int i = 0; i < 5; ++i)
            set(offsets[i], reals[i]->GetText());
    }
    context.Width = FWidth;
    context.Height = FHeight;
    context.HalfWidth = FWidth / 2;
    context.HalfHeight = FHeight / 2;
    // One block for all transformations, each part prepared in list order.
    std::uint64_t total = 0;
    for (int i = 0; i < FTransformations->GetCount(); ++i)
        total += static_cast<std::uint64_t>(std::max(FTransformations->GetItem(i).GetDataSize(), 0));
    context.TransformData =
        total > 0 && GetFormulaDataAllocator() ? GetFormulaDataAllocator()->Alloc(total) : nullptr;
    if (context.TransformData) {
        auto *start = static_cast<std::uint8_t *>(context.TransformData);
        for (int i = 0; i < FTransformations->GetCount(); ++i) {
            const TTransform &transform = FTransformations->GetItem(i);
            transform.InitData(Context);
            context.TransformData =
                static_cast<std::uint8_t *>(context.TransformData) + transform.GetDataSize();
        }
        context.TransformData = start;
    }
}

std::int32_t TMapping::MapPixel(void *Context, THugeProcessor *Processor) const {
    FMapper->MapPixel(Context, Processor);
    return ApplyTransformations(Context, Processor);
}

std::int32_t TMapping::ApplyTransformations(void *Context, THugeProcessor *Processor) const {
    auto &context = *static_cast<TPixelContext *>(Context);
    void *const start = context.TransformData;
    std::int32_t result = 0;
    for (int i = 0; i < FTransformations->GetCount(); ++i) {
        const TTransform &transform = FTransformations->GetItem(i);
        transform.Execute(Context, Processor);
        if (context.Solid) {
            result = FirstTransformCode + i;
            break;
        }
        context.TransformData = static_cast<std::uint8_t *>(context.TransformData) + transform.GetDataSize();
    }
    context.TransformData = start;
    return result;
}

void TMapping::ExecuteGlobals(void *Context, void *Processor) const {
    auto &context = *static_cast<TPixelContext *>(Context);
    void *const start = context.TransformData;
    for (int i = 0; i < FTransformations->GetCount(); ++i) {
        const TTransform &transform = FTransformations->GetItem(i);
        transform.ExecuteGlobal(Context, Processor);
        context.TransformData = static_cast<std::uint8_t *>(context.TransformData) + transform.GetDataSize();
    }
    context.TransformData = start;
}

void TMapping::DoneContext(void *Context) const {
    auto &context = *static_cast<TPixelContext *>(Context);
    if (!context.TransformData)
        return;
    void *const start = context.TransformData;
    for (int i = 0; i < FTransformations->GetCount(); ++i) {
        const TTransform &transform = FTransformations->GetItem(i);
        transform.DoneData(Context);
        context.TransformData = static_cast<std::uint8_t *>(context.TransformData) + transform.GetDataSize();
    }
    if (GetFormulaDataAllocator())
        GetFormulaDataAllocator()->Free(start);
    context.TransformData = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Parameter text

void TMapping::WriteParameters(TParWriter &Writer, std::uint32_t Flags) const {
    Writer.WriteSection(Flags & wpLocation ? "location" : "mapping");
    Writer.WriteComplexValue("center", Center);
    Writer.WriteFloatValue("magn", Magnification);
    if (Angle.GetValue() != 0)
        Writer.WriteFloatValue("angle", AngleDegrees);
    if (Stretch.GetValue() != 1)
        Writer.WriteFloatValue("stretch", Stretch);
    if (Skew.GetValue() != 0)
        Writer.WriteFloatValue("skew", SkewDegrees);
    if (Flags & wpLocation)
        return;
    const int count = FTransformations->GetCount();
    if (count > 0)
        Writer.WriteInteger("transforms", count);
    for (int i = 0; i < count; ++i)
        FTransformations->GetItem(i).WriteParameters(Writer, Flags & wpShortFileName);
}

void TMapping::ReadParameters(TParReader &Reader, std::uint32_t DefaultSolid) {
    // A header is checked when the reader stands on one; the caller may have read it already.
    std::string section;
    std::string key = Reader.PeekKey(&section);
    bool mappingForm = true;
    if (key.empty() && !section.empty()) {
        if (section != "mapping" && section != "location")
            Reader.RaiseError();
        mappingForm = section == "mapping";
        Reader.Next();
    }
    BeginUpdate();
    try {
        std::string center[2] = {"0", "0"}, magnification = "1", stretch = "1", skewDegrees = "0";
        long double angleDegrees = 0;
        std::int32_t transformCount = 0;
        for (;;) {
            key = Reader.NextKeyInSection();
            if (key.empty())
                break; // the next section, or the end
            const std::string &value = Reader.GetValue();
            if (key == "center") {
                const std::size_t slash = value.find('/');
                if (slash == std::string::npos || !IsValidFloatText(value.substr(0, slash)) ||
                    !IsValidFloatText(value.substr(slash + 1)))
                    Reader.RaiseError();
                center[0] = value.substr(0, slash);
                center[1] = value.substr(slash + 1);
            } else if (key == "magn") {
                magnification = value;
            } else if (key == "angle") {
                angleDegrees = NormalizeDegrees(Reader.GetFloat());
            } else if (key == "stretch") {
                stretch = value;
            } else if (key == "skew") {
                skewDegrees = value;
            } else if (key == "transforms" || key == "numtransforms") {
                transformCount = Reader.GetInteger();
                if (transformCount < 0 || transformCount > TTransformList::MaxCount)
                    Reader.RaiseError();
            }
        }
        try {
            Center.SetText(center[0], center[1]);
            Magnification.SetText(magnification);
            Stretch.SetText(stretch);
            AngleDegrees.SetValue(angleDegrees);
            SkewDegrees.SetText(skewDegrees);
        } catch (const EFloatValueError &) {
            Reader.RaiseError();
        }
        if (mappingForm) {
            int read = 0;
            for (;;) {
                std::string name;
                if (!Reader.PeekKey(&name).empty() || name != "transform")
                    break;
                if (read >= transformCount)
                    Reader.RaiseError();
                if (read >= FTransformations->GetCount()) {
                    std::unique_ptr<TTransform> transform = CreateTransformation();
                    FTransformations->Add(transform);
                }
                FTransformations->GetItem(read).ReadWithDefaultSolid(Reader, DefaultSolid);
                ++read;
            }
            if (read < transformCount)
                Reader.RaiseError();
            while (FTransformations->GetCount() > transformCount)
                FTransformations->Delete(FTransformations->GetCount() - 1);
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}
