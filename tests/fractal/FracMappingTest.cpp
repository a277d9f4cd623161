#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompDefinitions.h"
#include "CompPersistent.h"
#include "FracContext.h"
#include "FracMapping.h"

namespace {

// |A - B| for decimal texts, at 80 digits.
long double TextDifference(const std::string &A, const std::string &B) {
    THugeFloat a(80), b(80);
    a.SetText(A);
    b.SetText(B);
    a.Subtract(b);
    a.Abs();
    return a.GetExtended();
}

void SetSize(TMapping &Mapping, std::int32_t W, std::int32_t H) {
    Mapping.SetWidth(W);
    Mapping.SetHeight(H);
}

std::string Written(const TMapping &Mapping, std::uint32_t Flags = 0) {
    TParWriter writer;
    Mapping.WriteParameters(writer, Flags);
    writer.Finish();
    return writer.GetText();
}

void Read(TMapping &Mapping, const std::string &Text) {
    TParReader reader;
    reader.LoadFirstEntry("e {\r\n" + Text + "}\r\n");
    Mapping.LoadParameters(reader);
}

TEST(MappingHelpers, DigitsTrimmedTextAndDegrees) {
    struct TDigits {
        long double M;
        std::uint32_t Digits;
    };
    for (const TDigits &c :
         {TDigits{1, 10}, TDigits{0.001L, 10}, TDigits{1e6L, 16}, TDigits{3.2e6L, 17}, TDigits{1e40L, 50}})
        EXPECT_EQ(MagnificationDigits(c.M), c.Digits) << static_cast<double>(c.M);

    struct TText {
        long double V;
        const char *Text;
    };
    for (const TText &c : {TText{30, "30"}, TText{12.5L, "12.5"}, TText{-0.00001L, "0"},
                           TText{1.23456789L, "1.2346"}, TText{-45, "-45"}, TText{0, "0"}})
        EXPECT_EQ(FloatToTrimmedText(c.V), c.Text) << static_cast<double>(c.V);

    EXPECT_EQ(NormalizeDegrees(400), 40);
    EXPECT_EQ(NormalizeDegrees(-400), -40);
    EXPECT_EQ(NormalizeDegrees(720), 0);
}

TEST(MappingLocation, PixelScaleFollowsTheShorterSide) {
    struct TCase {
        std::int32_t W, H;
        const char *Magnification;
        const char *Scale;
    };
    const TCase cases[] = {{640, 480, "1", "0.00625"},
                           {800, 400, "1", "0.0075"},
                           {480, 640, "2", "0.00416666666666666666666666666667"},
                           {640, 480, "1e30", "6.25e-33"}};
    for (const TCase &c : cases) {
        TMapping mapping;
        mapping.Magnification.SetText(c.Magnification);
        SetSize(mapping, c.W, c.H);
        EXPECT_EQ(mapping.PixelScale.GetText(), c.Scale) << c.W << "x" << c.H;
    }
}

TEST(MappingLocation, RefusesValuesOutOfRange) {
    TMapping mapping;
    SetSize(mapping, 640, 480);
    // Zero or negative magnification and stretch would reach a division and a logarithm.
    for (const char *text : {"0", "-1", "1e5000"}) {
        EXPECT_THROW(mapping.Magnification.SetText(text), EFloatValueError) << text;
        EXPECT_THROW(mapping.Stretch.SetText(text), EFloatValueError) << text;
    }
    EXPECT_EQ(mapping.Magnification.GetText(), "1");
    EXPECT_EQ(mapping.Stretch.GetText(), "1");
    EXPECT_EQ(mapping.PixelScale.GetText(), "0.00625");
    // A skew of 90 degrees or more either way is refused; the old text stays.
    EXPECT_THROW(mapping.SkewDegrees.SetText("90"), EFloatValueError);
    EXPECT_THROW(mapping.Skew.SetText("-1.5708"), EFloatValueError);
    EXPECT_EQ(mapping.Skew.GetText(), "0");
    EXPECT_THROW(mapping.Angle.SetText("6.3"), EFloatValueError);
    mapping.Angle.SetText("-6.28");
}

TEST(MappingLocation, CornersAgreeWithAFiftyDigitReference) {
    TMapping mapping;
    mapping.Center.SetText("-0.743643887037158704752191506114774", "0.131825904205311970493132056385139");
    mapping.Magnification.SetText("1e40");
    mapping.Stretch.SetText("1.25");
    SetSize(mapping, 640, 480);
    // mpmath at 80 digits, with 1/stretch rounded to 64 bits as the mapping takes it.
    struct TCorner {
        const TComplexValue *Corner;
        const char *Re, *Im;
    };
    const TCorner corners[] = {
        {&mapping.LeftTop, "-0.743643887037158704752191506114774000000160000000000000000002",
         "0.13182590420531197049313205638513900000015"},
        {&mapping.RightTop, "-0.743643887037158704752191506114773999999839999999999999999998",
         "0.13182590420531197049313205638513900000015"},
        {&mapping.RightBottom, "-0.743643887037158704752191506114773999999839999999999999999998",
         "0.13182590420531197049313205638513899999985"},
    };
    for (const TCorner &c : corners) {
        EXPECT_LT(TextDifference(c.Corner->Re.GetText(), c.Re), 1e-49L) << c.Corner->Re.GetText();
        EXPECT_LT(TextDifference(c.Corner->Im.GetText(), c.Im), 1e-49L) << c.Corner->Im.GetText();
    }
    // Without rotation and skew the top corners share the imaginary part, the right ones the real.
    EXPECT_EQ(mapping.LeftTop.Im.GetText(), mapping.RightTop.Im.GetText());
    EXPECT_EQ(mapping.RightTop.Re.GetText(), mapping.RightBottom.Re.GetText());
}

TEST(MappingLocation, CornersGiveTheLocationBack) {
    TMapping source;
    source.Center.SetText("0.25", "-0.5");
    source.Magnification.SetText("2.5");
    source.Angle.SetText("0.3");
    source.Stretch.SetText("1.5");
    source.Skew.SetText("0.2");
    SetSize(source, 640, 480);

    // The corners hold the 10 digits that magnification 2.5 needs.
    TMapping derived;
    SetSize(derived, 640, 480);
    derived.LeftTop.SetText(source.LeftTop.Re.GetText(), source.LeftTop.Im.GetText());
    derived.RightTop.SetText(source.RightTop.Re.GetText(), source.RightTop.Im.GetText());
    derived.RightBottom.SetText(source.RightBottom.Re.GetText(), source.RightBottom.Im.GetText());
    EXPECT_NEAR(static_cast<double>(derived.Center.Re.GetValue()), 0.25, 1e-9);
    EXPECT_NEAR(static_cast<double>(derived.Center.Im.GetValue()), -0.5, 1e-9);
    EXPECT_NEAR(static_cast<double>(derived.Magnification.GetValue()), 2.5, 1e-7);
    EXPECT_NEAR(static_cast<double>(derived.Angle.GetValue()), 0.3, 1e-8);
    EXPECT_EQ(derived.Stretch.GetText(), "1.5");
    EXPECT_NEAR(static_cast<double>(derived.Skew.GetValue()), 0.2, 1e-6);
}

TEST(MappingLocation, DegenerateCornersNeverDivideByZero) {
    TMapping mapping;
    SetSize(mapping, 300, 480); // 3W < 4H
    // A top edge of length 0.
    mapping.LeftTop.SetText(mapping.RightTop.Re.GetText(), mapping.RightTop.Im.GetText());
    EXPECT_EQ(mapping.Stretch.GetText(), "1");
    EXPECT_EQ(mapping.Magnification.GetText(), "1");
    EXPECT_EQ(mapping.Skew.GetValue(), 0);
    EXPECT_FALSE(std::isnan(static_cast<double>(mapping.Angle.GetValue())));
}

// Corners on one line put the cosine of the corner angle at -1, where rounding of the square
// roots can carry it past -1: the arc cosine must not see that.
TEST(MappingLocation, CollinearCornersAreRefusedAndChangeNothing) {
    TMapping mapping;
    SetSize(mapping, 640, 480);
    mapping.LeftTop.SetText("0", "0");
    mapping.RightTop.SetText("0.1", "0.7");
    const std::string before = Written(mapping);
    // On one line the cosine of the corner angle is -1, which rounding of the square roots can carry
    // past -1; the corners describe a skew of 90 degrees, refused as such, never as NaN.
    try {
        mapping.RightBottom.SetText("0.3", "2.1");
        ADD_FAILURE() << "no exception";
    } catch (const EFloatValueError &e) {
        EXPECT_STREQ(e.what(), "Floating-point number out of range: '90'");
    }
    EXPECT_EQ(Written(mapping), before) << "the location stays";
    EXPECT_NE(mapping.RightBottom.Re.GetText(), "0.3") << "the corners follow the location again";
    for (const TFloatValue *value : {&mapping.Angle, &mapping.Skew, &mapping.Stretch, &mapping.Magnification,
                                     &mapping.Center.Re, &mapping.Center.Im})
        EXPECT_FALSE(std::isnan(static_cast<double>(value->GetValue()))) << value->GetText();
}

TEST(MappingPixels, ColumnsAndRowsRunSymmetricAroundTheCentre) {
    struct TCase {
        std::int32_t W, H;
        std::int32_t FirstColumn, LastColumn, TopRow, BottomRow;
    };
    const TCase cases[] = {{5, 4, -2, 2, 2, -1}, {6, 5, -3, 2, 2, -2}};
    for (const TCase &c : cases) {
        TMapping mapping;
        mapping.Center.SetText("-0.75", "0.1");
        SetSize(mapping, c.W, c.H);
        TExtendedMapper extended;
        extended.Setup(mapping);
        const long double scale = mapping.PixelScale.GetValue();
        long double re, im;
        extended.MapPoint(0, 0, re, im);
        EXPECT_NEAR(static_cast<double>((re + 0.75L) / scale), c.FirstColumn, 1e-9);
        EXPECT_NEAR(static_cast<double>((im - 0.1L) / scale), c.TopRow, 1e-9);
        extended.MapPoint(c.W - 1, c.H - 1, re, im);
        EXPECT_NEAR(static_cast<double>((re + 0.75L) / scale), c.LastColumn, 1e-9);
        EXPECT_NEAR(static_cast<double>((im - 0.1L) / scale), c.BottomRow, 1e-9);
    }
}

TEST(MappingPixels, ThreePrecisionsAgreeAndTheCentreIsExact) {
    TMapping mapping;
    mapping.Center.SetText("-0.7436438870371587", "0.1318259042053119");
    mapping.Magnification.SetText("350");
    mapping.Angle.SetText("0.7");
    mapping.Stretch.SetText("1.3");
    mapping.Skew.SetText("-0.25");
    SetSize(mapping, 320, 200);

    TPixelContextBlock doubles(0), extendeds(1), huges(2);
    mapping.SetPrecision(0);
    mapping.InitContext(doubles.Bytes());
    EXPECT_EQ(doubles.Common().Width, 320);
    EXPECT_EQ(doubles.Common().HalfHeight, 100);
    EXPECT_EQ(doubles.At<double>(doubles.Values().Magn), 350.0);

    const int digits = 30;
    InitHugeContextValues(huges.Bytes(), digits);
    THugeProcessor processor(digits);
    const struct { std::int32_t X, Y; } pixels[] = {{160, 100}, {0, 0}, {319, 199}, {17, 150}};
    for (const auto &p : pixels) {
        SCOPED_TRACE(testing::Message() << p.X << "," << p.Y);
        long double values[3][2];
        for (std::uint8_t precision = 0; precision < 3; ++precision) {
            TPixelContextBlock &block = precision == 0 ? doubles : precision == 1 ? extendeds : huges;
            mapping.SetDigits(digits);
            mapping.SetPrecision(precision);
            block.Common().X = p.X;
            block.Common().Y = p.Y;
            EXPECT_EQ(mapping.MapPixel(block.Bytes(), &processor), 0);
            const std::int32_t pixel = block.Values().Pixel, step = block.Values().ImaginaryStep;
            if (precision == 0) {
                values[0][0] = block.At<double>(pixel);
                values[0][1] = block.At<double>(pixel + step);
            } else if (precision == 1) {
                values[1][0] = block.At<long double>(pixel);
                values[1][1] = block.At<long double>(pixel + step);
            } else {
                values[2][0] = block.At<THugeFloatBase *>(pixel)->GetExtended();
                values[2][1] = block.At<THugeFloatBase *>(pixel + step)->GetExtended();
            }
        }
        for (int part = 0; part < 2; ++part) {
            EXPECT_NEAR(static_cast<double>(values[0][part] - values[1][part]), 0, 3e-16);
            EXPECT_NEAR(static_cast<double>(values[1][part] - values[2][part]), 0, 1e-18);
        }
        if (p.X == 160 && p.Y == 100) {
            EXPECT_EQ(values[0][0], static_cast<double>(mapping.Center.Re.GetValue()));
            EXPECT_EQ(values[0][1], static_cast<double>(mapping.Center.Im.GetValue()));
            EXPECT_EQ(values[1][0], mapping.Center.Re.GetValue());
            EXPECT_EQ(values[1][1], mapping.Center.Im.GetValue());
        }
    }
    DoneHugeContextValues(huges.Bytes());
}

TEST(MappingParameters, SectionsRoundTripAndLeaveOutDefaults) {
    TMapping mapping;
    SetSize(mapping, 640, 480);
    EXPECT_EQ(Written(mapping), "mapping:\r\n  center=0/0 magn=1\r\n");
    EXPECT_EQ(Written(mapping, TMapping::wpLocation), "location:\r\n  center=0/0 magn=1\r\n");

    Read(mapping, "mapping:\r\n  center=-0.75/0.125 magn=2.5e3 angle=30 stretch=1.5 skew=-10\r\n");
    const std::string text = Written(mapping);
    EXPECT_EQ(text, "mapping:\r\n  center=-0.75/0.125 magn=2.5e3 angle=30 stretch=1.5 skew=-10\r\n");
    TMapping copy;
    SetSize(copy, 640, 480);
    Read(copy, text);
    EXPECT_EQ(Written(copy), text);

    struct TAngle {
        const char *Value, *Degrees;
    };
    for (const TAngle &c : {TAngle{"400", "40"}, TAngle{"-400", "-40"}, TAngle{"360", "0"}}) {
        TMapping angled;
        SetSize(angled, 640, 480);
        Read(angled, std::string("location:\r\n  angle=") + c.Value + "\r\n");
        EXPECT_EQ(angled.AngleDegrees.GetText(), c.Degrees) << c.Value;
    }

    // Missing keys take their defaults.
    Read(mapping, "location:\r\n  magn=4\r\n");
    EXPECT_EQ(Written(mapping), "mapping:\r\n  center=0/0 magn=4\r\n");

    for (const char *bad : {"formula:\r\n  magn=2\r\n", "location:\r\n  center=1\r\n",
                            "location:\r\n  magn=0\r\n", "location:\r\n  skew=95\r\n"})
        EXPECT_THROW(Read(mapping, bad), EInvalidParFile) << bad;
}

} // namespace
