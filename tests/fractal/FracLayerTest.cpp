#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompPersistent.h"
#include "FracCalculate.h"
#include "FracLayer.h"

namespace {

// A layer whose construction bracket is closed, on a manager of its own, so that a test that
// starts a run never depends on the program's global manager.
struct TLayerFixture {
    TCalculateManager Manager{1};
    std::unique_ptr<TLayer> Layer;

    TLayerFixture() {
        Layer = std::make_unique<TLayer>(nullptr, &Manager);
        Layer->EndUpdate();
    }
    ~TLayerFixture() { Layer.reset(); }
};

std::unique_ptr<TParReader> ReaderOf(const std::string &Body) {
    return TEntryStream::CreateFromString<TParReader>("test {\r\n" + Body + "}\r\n");
}

std::string WrittenText(TLayer &Layer, std::uint32_t Flags = 0) {
    TParWriter writer;
    Layer.WriteParameters(writer, Flags);
    writer.Finish();
    return writer.GetText();
}

// The value of Key in the "layer" section of Text (up to the next section), or "<none>".
std::string LayerKey(const std::string &Text, const std::string &Key) {
    const std::size_t end = Text.find(':', Text.find("layer:") + 6);
    const std::string section = Text.substr(0, end);
    const std::size_t at = section.find(" " + Key + "=");
    if (at == std::string::npos)
        return "<none>";
    const std::size_t from = at + Key.size() + 2;
    return section.substr(from, section.find_first_of(" \r\n", from) - from);
}

} // namespace

TEST(FracLayer, OpacityIsClampedWhenReadAndWrittenBackClamped) {
    TLayerFixture fixture;
    TLayer &layer = *fixture.Layer;
    layer.ReadParameters(*ReaderOf("layer:\r\n  opacity=150\r\n"), TLayerProgressEvent());
    EXPECT_EQ(layer.GetOpacity(), 100);
    EXPECT_EQ(LayerKey(WrittenText(layer), "opacity"), "100");
    // The default of a read layer is 50, which is not written.
    layer.ReadParameters(*ReaderOf("layer:\r\n  caption=\"x\"\r\n"), TLayerProgressEvent());
    EXPECT_EQ(layer.GetOpacity(), 50);
    EXPECT_EQ(LayerKey(WrittenText(layer), "opacity"), "<none>");
}

TEST(FracLayer, SolidColourAndAlphaKeysCombineInEitherOrder) {
    // insolid is red + 256 green + 65536 blue; the table colour has the bytes blue, green, red,
    // alpha from the low byte.
    struct {
        const char *Body;
        std::uint32_t Inside;
        std::uint32_t Outside;
        bool Transparent;
    } cases[] = {
        {"layer:\r\n  inalpha=128\r\n  insolid=255\r\n", 0x80FF0000u, 0xFF000000u, false},
        {"layer:\r\n  insolid=255\r\n  inalpha=128\r\n", 0x80FF0000u, 0xFF000000u, false},
        {"layer:\r\n  outsolid=16711680\r\n  outalpha=7\r\n  transparent=yes\r\n", 0xFF000000u, 0x070000FFu,
         true},
        // A coloring section without its own solid colour takes the layer's keys.
        {"layer:\r\n  inalpha=128\r\n  insolid=255\r\ninside:\r\n", 0x80FF0000u, 0xFF000000u, false},
        {"layer:\r\n  alpha=yes\r\n", 0xFF000000u, 0xFF000000u, true},
    };
    for (const auto &c : cases) {
        TLayerFixture fixture;
        TLayer &layer = *fixture.Layer;
        layer.ReadParameters(*ReaderOf(c.Body), TLayerProgressEvent());
        EXPECT_EQ(layer.GetInsideColoring().GetSolidColor(), c.Inside) << c.Body;
        EXPECT_EQ(layer.GetOutsideColoring().GetSolidColor(), c.Outside) << c.Body;
        EXPECT_EQ(layer.GetColorTable()[InsideSolidCode], c.Inside) << c.Body;
        EXPECT_EQ(layer.GetColorTable()[OutsideSolidCode], c.Outside) << c.Body;
        // The layer's transparency is its own key, whatever the solid colours' alpha.
        EXPECT_EQ(layer.GetTransparent(), c.Transparent) << c.Body;
    }
}

TEST(FracLayer, KeysMethodMergeModeAndRoundTrip) {
    TLayerFixture fixture;
    TLayer &layer = *fixture.Layer;
    layer.ReadParameters(
        *ReaderOf("layer:\r\n  method=linear\r\n  caption=\"Top layer\"\r\n  visible=no\r\n"
                  "  editable=no\r\n  mergemode=Difference\r\n  precision=3\r\n  mask=yes\r\n"
                  "  maskonly=yes\r\n  unknown=1\r\n"),
        TLayerProgressEvent());
    EXPECT_EQ(layer.GetMethod(), dmLinear);
    EXPECT_EQ(layer.GetCaption(), "Top layer");
    EXPECT_FALSE(layer.GetVisible());
    EXPECT_FALSE(layer.GetEditable());
    EXPECT_EQ(layer.GetMergeMode(), 8);
    EXPECT_EQ(layer.GetAdditionalPrecision(), 3);
    EXPECT_TRUE(layer.GetMask());
    // Mask made the layer transparent, but the text has no transparent key: it ends opaque, and
    // leaving transparency clears mask only.
    EXPECT_FALSE(layer.GetTransparent());
    EXPECT_FALSE(layer.GetMaskOnly());

    const std::string text = WrittenText(layer, TLayer::wpEditable | TLayer::wpMaskOnly);
    EXPECT_EQ(LayerKey(text, "method"), "linear");
    EXPECT_EQ(LayerKey(text, "mergemode"), "difference");
    EXPECT_EQ(LayerKey(text, "precision"), "3");
    EXPECT_EQ(LayerKey(text, "visible"), "no");
    EXPECT_EQ(LayerKey(text, "editable"), "no");
    EXPECT_EQ(LayerKey(text, "mask"), "yes");

    TLayerFixture copy;
    copy.Layer->ReadParameters(*ReaderOf(text.substr(0)), TLayerProgressEvent());
    EXPECT_EQ(WrittenText(*copy.Layer, TLayer::wpEditable), WrittenText(layer, TLayer::wpEditable));

    // An unknown merge-mode name or method leaves the defaults.
    layer.ReadParameters(*ReaderOf("layer:\r\n  mergemode=sparkle\r\n  method=fast\r\n"),
                         TLayerProgressEvent());
    EXPECT_EQ(layer.GetMergeMode(), 0);
    EXPECT_EQ(layer.GetMethod(), dmGuessing);
}

TEST(FracLayer, AnotherFirstSectionIsRefused) {
    TLayerFixture fixture;
    EXPECT_THROW(
        fixture.Layer->ReadParameters(*ReaderOf("formula:\r\n  maxiter=10\r\n"), TLayerProgressEvent()),
        EInvalidParFile);
    EXPECT_EQ(fixture.Layer->GetUpdateCount(), 0);
}

TEST(FracLayer, MaskRules) {
    TLayerFixture fixture;
    TLayer &layer = *fixture.Layer;
    layer.SetMaskOnly(true); // without mask: nothing
    EXPECT_FALSE(layer.GetMaskOnly());
    EXPECT_FALSE(layer.GetTransparent());
    layer.SetMask(true);
    EXPECT_TRUE(layer.GetTransparent());
    layer.SetMaskOnly(true);
    EXPECT_TRUE(layer.GetMaskOnly());
    layer.SetMask(false); // clears mask only
    EXPECT_FALSE(layer.GetMaskOnly());
    EXPECT_FALSE(layer.GetMask());
}

TEST(FracLayer, ThumbnailSizes) {
    struct {
        int W, H, TW, TH;
    } cases[] = {{640, 480, 36, 27}, {480, 640, 27, 36}, {100, 10, 36, 3}, {10, 100, 3, 36},
                 {100, 100, 27, 27}, {0, 480, 0, 0},     {640, 0, 0, 0},   {1, 1, 27, 27}};
    for (const auto &c : cases) {
        int w = -1, h = -1;
        GetThumbnailSize(c.W, c.H, w, h);
        EXPECT_EQ(w, c.TW) << c.W << "x" << c.H;
        EXPECT_EQ(h, c.TH) << c.W << "x" << c.H;
    }
    TLayerFixture fixture;
    fixture.Layer->SetSize(640, 480);
    EXPECT_EQ(fixture.Layer->GetThumbnailWidth(), 36);
    EXPECT_EQ(fixture.Layer->GetThumbnailHeight(), 27);
}

TEST(FracLayer, ThumbnailSamplesTheImageAndShowsMasksAsGrey) {
    TLayerFixture fixture;
    TLayer &layer = *fixture.Layer;
    layer.SetSize(72, 54); // a 36 x 27 thumbnail: every second pixel of every second row
    TLayerImage &image = layer.GetImage();
    layer.StopCalculation();
    layer.GetColorTable()[100] = 0x80102030u;
    for (int y = 0; y < 54; ++y)
        for (int x = 0; x < 72; ++x)
            image.SetCode(x, y, (x / 2 + y / 2) % 2 ? 100 : InsideSolidCode);
    layer.UpdateThumbnail();
    const TBaseBitmap &thumb = layer.GetThumbnail();
    ASSERT_EQ(thumb.Width(), 36);
    ASSERT_EQ(thumb.Height(), 27);
    auto pixel = [&](int x, int y) {
        return *reinterpret_cast<const std::uint32_t *>(thumb.Bits() + y * thumb.RowBytes() + x * 4);
    };
    EXPECT_EQ(pixel(1, 0) & 0xFFFFFF, image.GetPixelColor(2, 0) & 0xFFFFFF);
    EXPECT_EQ(pixel(1, 0) & 0xFFFFFF, 0x102030u);
    EXPECT_EQ(pixel(0, 0) & 0xFFFFFF, layer.GetColorTable()[InsideSolidCode] & 0xFFFFFF);
    layer.SetMask(true);
    layer.UpdateThumbnail();
    EXPECT_EQ(pixel(1, 0) & 0xFFFFFF, 0x808080u);
}

TEST(FracLayer, ListBatchesItsEvents) {
    TCalculateManager manager(1);
    TLayerList list;
    int before = 0;
    std::vector<std::string> changes;
    std::vector<int> removed;
    struct TRecorder {
        int *Before;
        std::vector<std::string> *Changes;
        std::vector<int> *Removed;
        void BeforeChange(TObject *) { ++*Before; }
        void Change(TObject *, const std::string &Caption) { Changes->push_back(Caption); }
        void Remove(TObject *, int Index) { Removed->push_back(Index); }
    } recorder{&before, &changes, &removed};
    list.OnBeforeChange = MakeEvent<&TRecorder::BeforeChange>(&recorder);
    list.OnChange = MakeEvent<&TRecorder::Change>(&recorder);
    list.OnRemove = MakeEvent<&TRecorder::Remove>(&recorder);
    for (int i = 0; i < 3; ++i) {
        auto layer = std::make_unique<TLayer>(nullptr, &manager);
        layer->EndUpdate();
        EXPECT_EQ(list.Add(std::move(layer)), i);
    }
    EXPECT_EQ(before, 3);
    EXPECT_EQ(changes, std::vector<std::string>(3, "Add Layer"));
    TLayer *last = &list.Items(2);

    before = 0;
    changes.clear();
    list.BeginUpdate();
    list.Delete(0);
    list.Delete(0);
    list.EndUpdate();
    EXPECT_EQ(before, 1);
    EXPECT_EQ(changes, std::vector<std::string>{"Remove Layer"});
    EXPECT_EQ(removed, (std::vector<int>{0, 0}));
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(&list.Items(0), last);

    // An update without a change fires nothing; the next change fires its own before-change.
    before = 0;
    changes.clear();
    list.BeginUpdate();
    list.EndUpdate();
    list.Move(0, 0);
    EXPECT_EQ(before, 0);
    list.Clear();
    EXPECT_EQ(before, 1);
    EXPECT_EQ(changes, std::vector<std::string>{"Remove Layer"});
    EXPECT_EQ(list.Count(), 0);
}

TEST(FracLayer, RedrawsOfOneGroupMakeOneUndoStep) {
    TLayerFixture fixture;
    TLayer &layer = *fixture.Layer;
    std::vector<std::pair<TLayerChangeKind, std::string>> changes;
    struct TRecorder {
        std::vector<std::pair<TLayerChangeKind, std::string>> *Changes;
        void Change(TObject *, TLayerChangeKind Kind, const std::string &Caption) {
            Changes->emplace_back(Kind, Caption);
        }
    } recorder{&changes};
    layer.OnChange = MakeEvent<&TRecorder::Change>(&recorder);

    layer.BeginUpdate();
    for (int i = 0; i < 3; ++i)
        layer.RequestRedraw(3, "Color Density");
    layer.EndUpdate();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].first, TLayerChangeKind::NewChange);
    EXPECT_EQ(changes[0].second, "Color Density");
    layer.RequestRedraw(3, "Color Density");
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[1].first, TLayerChangeKind::Continued);
    // Group 0 always starts a new step; another group too.
    layer.RequestRedraw(0, "Merge Mode");
    layer.RequestRedraw(4, "Other");
    ASSERT_EQ(changes.size(), 4u);
    EXPECT_EQ(changes[2].first, TLayerChangeKind::NewChange);
    EXPECT_EQ(changes[3].first, TLayerChangeKind::NewChange);
    // A plain modification inside an update with a redraw: the redraw wins.
    layer.BeginUpdate();
    layer.Modified();
    layer.RequestRedraw(4, "Other");
    layer.EndUpdate();
    ASSERT_EQ(changes.size(), 5u);
    EXPECT_EQ(changes[4].first, TLayerChangeKind::Continued);
    layer.SetCaption("named");
    ASSERT_EQ(changes.size(), 6u);
    EXPECT_EQ(changes[5].first, TLayerChangeKind::Modified);
}

namespace {

class TOptionLayer : public TLayer {
public:
    using TLayer::TLayer;
    int Option = 1;

protected:
    int ArbitraryPrecisionOption() const override { return Option; }
};

} // namespace

TEST(FracLayer, PrecisionFollowsDigitsAndTheOption) {
    struct {
        int Digits, Option, Precision;
    } cases[] = {{10, 1, 0}, {16, 1, 0}, {17, 1, 1}, {20, 1, 1}, {21, 1, 2},
                 {30, 0, 1}, {30, 1, 2}, {10, 2, 2}, {500, 0, 1}};
    for (const auto &c : cases)
        EXPECT_EQ(ChoosePrecisionMode(c.Digits, c.Option), c.Precision) << c.Digits << " " << c.Option;

    TCalculateManager manager(1);
    TOptionLayer layer(nullptr, &manager);
    layer.EndUpdate();
    layer.Option = 0;
    // Magnification 1 needs 10 digits; 20 more make 30.
    layer.SetAdditionalPrecision(20);
    layer.UpdatePrecisionMode();
    EXPECT_EQ(layer.GetDigits(), 30);
    EXPECT_EQ(layer.GetPrecision(), 1);
    layer.Option = 1;
    layer.UpdatePrecisionMode();
    EXPECT_EQ(layer.GetPrecision(), 2);
}
