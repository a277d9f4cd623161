#include <cstdint>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "CompMessages.h"
#include "CompPersistent.h"
#include "FracContext.h"
#include "FracMapping.h"
#include "FracTransform.h"

namespace {

std::string FixturePath() {
    return std::string(TEST_DATA_DIR) + "fractal\\data\\FracTransform_fixtures.oxf";
}

std::string Written(const TFormulaBase &Object) {
    TParWriter writer;
    Object.WriteParameters(writer, TFormulaBase::wpShortFileName);
    writer.Finish();
    return writer.GetText();
}

std::unique_ptr<TTransform> Compiled(const std::string &Entry) {
    auto transform = std::make_unique<TTransform>();
    ErrorManager()->SetFormula(transform.get());
    transform->SetSource(FixturePath(), Entry);
    EXPECT_FALSE(transform->GetHasError()) << Entry;
    return transform;
}

TEST(Transformations, SettingsAreWrittenOnlyWhenTheyDiffer) {
    auto transform = Compiled("RightSolid");
    EXPECT_EQ(Written(*transform),
              "transform:\r\n  filename=\"FracTransform_fixtures.oxf\" entry=\"RightSolid\"\r\n");
    int solidChanges = 0;
    struct TCounter {
        int &Count;
        void Changed(TObject *) { ++Count; }
    } counter{solidChanges};
    transform->OnSolidChanged = MakeEvent<&TCounter::Changed>(&counter);
    transform->SetEnabled(false);
    transform->SetSolidColor(0x00000000); // black, transparent: not the default
    transform->SetSolidColor(0x00000000);
    EXPECT_EQ(solidChanges, 1);
    EXPECT_EQ(Written(*transform),
              "transform:\r\n  enabled=no solid=0 filename=\"FracTransform_fixtures.oxf\"\r\n"
              "  entry=\"RightSolid\"\r\n");
    TTransform empty;
    EXPECT_TRUE(empty.GetEnabled());
    EXPECT_EQ(empty.GetTitle(), "(None)");
}

TEST(Transformations, ListLimitsAndPositions) {
    TTransformList list;
    std::string captions;
    struct TRecorder {
        std::string &Text;
        void Modified(TObject *, const std::string &Caption) { Text += Caption + ";"; }
    } recorder{captions};
    list.OnModify = MakeEvent<&TRecorder::Modified>(&recorder);
    auto first = std::make_unique<TTransform>();
    EXPECT_EQ(list.Insert(0, first), 0);
    EXPECT_EQ(first, nullptr);
    TTransformList other;
    auto added = std::make_unique<TTransform>();
    EXPECT_EQ(other.Add(added), 0);
    auto second = std::make_unique<TTransform>();
    TTransform *secondAddress = second.get();
    list.Add(second);
    list.Move(1, 0);
    EXPECT_EQ(&list.GetItem(0), secondAddress);
    list.Delete(0);
    EXPECT_EQ(list.GetCount(), 1);
    EXPECT_EQ(captions, "Add Transformation;Add Transformation;Move Transformation;Remove Transformation;");

    while (list.GetCount() < TTransformList::MaxCount) {
        auto more = std::make_unique<TTransform>();
        list.Add(more);
    }
    auto extra = std::make_unique<TTransform>();
    try {
        list.Add(extra);
        ADD_FAILURE() << "no exception";
    } catch (const ETransformListError &e) {
        EXPECT_STREQ(e.what(), "Cannot add more than 1024 transformations");
    }
    EXPECT_NE(extra, nullptr) << "the caller keeps a refused transformation";
    EXPECT_EQ(list.GetCount(), 1024);
}

TEST(MappingTransformations, PointsMoveOrTurnSolidInListOrder) {
    TMapping mapping;
    mapping.SetWidth(11);
    mapping.SetHeight(11);
    mapping.AddTransformationEntry(FixturePath(), "RightSolid");
    mapping.AddTransformationEntry(FixturePath(), "Scale"); // inserted at the active index 0
    ASSERT_EQ(mapping.GetTransformations().GetCount(), 2);
    EXPECT_EQ(mapping.GetTransformations().GetItem(0).GetEntryName(), "Scale");

    TPixelContextBlock block(pmDouble);
    mapping.InitContext(block.Bytes());
    ASSERT_NE(block.Common().TransformData, nullptr);
    const std::int32_t pixel = block.Values().Pixel;
    // Column 2 of 11 lies left of the centre: moved, not solid.
    block.Common().X = 2;
    block.Common().Y = 5;
    EXPECT_EQ(mapping.MapPixel(block.Bytes(), nullptr), 0);
    // Three columns left of the centre, the pixel scale 4/11 at its 10 digits, doubled.
    EXPECT_NEAR(block.At<double>(pixel), -3 * static_cast<double>(mapping.PixelScale.GetValue()) * 2, 1e-15);
    // Column 8 lies right of it: solid by the transformation at index 1.
    block.Common().X = 8;
    EXPECT_EQ(mapping.MapPixel(block.Bytes(), nullptr), FirstTransformCode + 1);
    block.Common().Solid = 0;
    mapping.GetTransformations().GetItem(1).SetEnabled(false);
    EXPECT_EQ(mapping.MapPixel(block.Bytes(), nullptr), 0);
    mapping.DoneContext(block.Bytes());
    EXPECT_EQ(block.Common().TransformData, nullptr);

    // The transformations follow the mapping's precision.
    mapping.SetPrecision(pmExtended);
    EXPECT_EQ(mapping.GetTransformations().GetItem(0).GetPrecision(), pmExtended);
    TPixelContextBlock extended(pmExtended);
    mapping.InitContext(extended.Bytes());
    extended.Common().X = 2;
    extended.Common().Y = 5;
    EXPECT_EQ(mapping.MapPixel(extended.Bytes(), nullptr), 0);
    EXPECT_NEAR(static_cast<double>(extended.ReadValue(extended.Values().Pixel)),
                -6 * static_cast<double>(mapping.PixelScale.GetValue()), 1e-15);
    mapping.DoneContext(extended.Bytes());
}

// The mapping's formula constants reach every transformation, also one created afterwards, and a
// change of them recompiles the transformations inside one change of the mapping.
TEST(MappingTransformations, FormulaConstantsReachTheTransformations) {
    TMapping mapping;
    mapping.SetWidth(11);
    mapping.SetHeight(11);
    mapping.AddTransformationEntry(FixturePath(), "ShiftByConstants");
    int changes = 0;
    struct TCounter {
        int &Count;
        void Changed(TObject *) { ++Count; }
    } counter{changes};
    mapping.OnChange = MakeEvent<&TCounter::Changed>(&counter);
    TFormulaConstants &constants = mapping.GetConstants();
    constants.BeginUpdate();
    constants.Center.SetText("0.5", "-0.25");
    constants.Magn.SetText("4");
    constants.SetWidth(640);
    constants.EndUpdate();
    EXPECT_EQ(changes, 1);
    mapping.AddTransformationEntry(FixturePath(), "ShiftByConstants");
    ASSERT_EQ(mapping.GetTransformations().GetCount(), 2);
    for (int i = 0; i < 2; ++i) {
        const TFormulaConstants &own = mapping.GetTransformations().GetItem(i).GetConstants();
        EXPECT_EQ(own.Magn.GetText(), "4") << i;
        EXPECT_EQ(own.GetWidth(), 640) << i;
    }

    TPixelContextBlock block(pmDouble);
    mapping.InitContext(block.Bytes());
    block.Common().X = 5; // the centre pixel maps to 0
    block.Common().Y = 5;
    EXPECT_EQ(mapping.MapPixel(block.Bytes(), nullptr), 0);
    // Twice (0.5 - 0.25i) * 4 + 640.
    EXPECT_EQ(block.At<double>(block.Values().Pixel), 1284.0);
    EXPECT_EQ(block.At<double>(block.Values().Pixel + 8), -2.0);
    mapping.DoneContext(block.Bytes());
}

TEST(MappingTransformations, MappingSectionsCarryTheirTransformations) {
    TMapping mapping;
    mapping.SetWidth(64);
    mapping.SetHeight(48);
    mapping.AddTransformationEntry(FixturePath(), "Scale");
    mapping.AddTransformationEntry(FixturePath(), "RightSolid");
    mapping.GetTransformations().GetItem(1).SetEnabled(false);
    TParWriter writer;
    mapping.WriteParameters(writer, 0);
    writer.Finish();
    const std::string text = writer.GetText();
    EXPECT_NE(text.find("transforms=2"), std::string::npos) << text;

    TMapping copy;
    copy.SetWidth(64);
    copy.SetHeight(48);
    TParReader reader;
    reader.LoadFirstEntry("e {\r\n" + text + "}\r\n");
    copy.LoadParameters(reader);
    TParWriter again;
    copy.WriteParameters(again, 0);
    again.Finish();
    EXPECT_EQ(again.GetText(), text);

    // A location section leaves the transformations; a count that disagrees is refused.
    TParReader location;
    location.LoadFirstEntry("e {\r\nlocation:\r\n  magn=2\r\n}\r\n");
    copy.LoadParameters(location);
    EXPECT_EQ(copy.GetTransformations().GetCount(), 2);
    for (const char *count : {"transforms=1", "transforms=3"}) {
        std::string bad = text;
        bad.replace(bad.find("transforms=2"), 12, count);
        TParReader badReader;
        badReader.LoadFirstEntry("e {\r\n" + bad + "}\r\n");
        EXPECT_THROW(copy.LoadParameters(badReader), EInvalidParFile) << count;
    }
    // Fewer transformations stored than held: the extra ones go.
    TParReader single;
    single.LoadFirstEntry("e {\r\nmapping:\r\n  center=0/0 magn=1\r\n}\r\n");
    copy.LoadParameters(single);
    EXPECT_EQ(copy.GetTransformations().GetCount(), 0);
}

} // namespace
