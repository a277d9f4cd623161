// Imported Fractint entries against the colour indexes that Fractint's published behaviour gives:
// FracImport_reference.py computed them, independently of the importer and its formula files, for
// every type of "Fractint.ofm" that it defines and for the inside, outside, decomposition,
// biomorph, logmap, inversion, potential and view options; each entry of FracImport_reference.par
// is imported, calculated at 160 x 120 and compared pixel for pixel. Pixels on the boundary of a
// set may differ where the x87 arithmetic of the formulas and the reference's doubles round
// differently (and where this machine's emulation rounds differently again), so at least 99.5 %
// of the pixels must agree; in practice a case differs in a few boundary pixels at most.
#include <windows.h>

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FracMessageWait.h"

#include "CompPersistent.h"
#include "FracCalculate.h"
#include "FracDocument.h"
#include "FracGradient.h"
#include "FracImage.h"
#include "FracImport.h"
#include "FracImportSupport.h"
#include "GenSetup.h"

namespace {

std::string ReferenceFolder() {
    return std::string(TEST_DATA_DIR) + "fractal\\data\\";
}

std::string Base64Decode(const std::string &Text) {
    auto value = [](char C) -> int {
        if (C >= 'A' && C <= 'Z')
            return C - 'A';
        if (C >= 'a' && C <= 'z')
            return C - 'a' + 26;
        if (C >= '0' && C <= '9')
            return C - '0' + 52;
        return C == '+' ? 62 : C == '/' ? 63 : -1;
    };
    std::string bytes;
    int bits = 0, buffer = 0;
    for (char c : Text) {
        const int v = value(c);
        if (v < 0)
            continue;
        buffer = (buffer << 6) | v;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    return bytes;
}

struct TReferenceGrid {
    std::string Name;
    std::vector<std::uint8_t> Indexes; // 160 x 120, row by row
};

std::vector<TReferenceGrid> ReadReferenceGrids() {
    std::ifstream file(ReferenceFolder() + "FracImport_reference.txt");
    std::vector<TReferenceGrid> grids;
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream parts(line);
        TReferenceGrid grid;
        std::string packed;
        parts >> grid.Name >> packed;
        const std::string compressed = Base64Decode(packed);
        grid.Indexes.resize(160 * 120);
        uLongf size = static_cast<uLongf>(grid.Indexes.size());
        if (uncompress(grid.Indexes.data(), &size, reinterpret_cast<const Bytef *>(compressed.data()),
                       static_cast<uLong>(compressed.size())) != Z_OK ||
            size != grid.Indexes.size())
            ADD_FAILURE() << "damaged grid " << grid.Name;
        grids.push_back(std::move(grid));
    }
    return grids;
}

// The colour index of a pixel code: the importer's colorings write index k as the gradient
// position k * 399 div 255 of 400, where the imported palette keeps colour k; -1 for any other code.
std::vector<int> IndexOfCode() {
    std::vector<int> index(GradientCodeCount + 16, -1);
    for (int k = 0; k < 256; ++k)
        index[static_cast<std::size_t>(k * 399 / 255 * GradientStepsPerPosition)] = k;
    return index;
}

class TFractintReferenceTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        FFolders = std::make_unique<TShippedFormulaFolders>();
        FSavedFixed = ConfigManager()->Fractal->ImportFixedAspectRatio;
        FSavedSmooth = ConfigManager()->Fractal->ImportSmoothColoring;
        ConfigManager()->Fractal->ImportFixedAspectRatio = true;
        ConfigManager()->Fractal->ImportSmoothColoring = false;
    }
    static void TearDownTestSuite() {
        ConfigManager()->Fractal->ImportFixedAspectRatio = FSavedFixed;
        ConfigManager()->Fractal->ImportSmoothColoring = FSavedSmooth;
        FFolders.reset();
    }

    TCalculateManager Manager{3};

private:
    static inline std::unique_ptr<TShippedFormulaFolders> FFolders;
    static inline bool FSavedFixed = true, FSavedSmooth = true;
};

} // namespace

TEST_F(TFractintReferenceTest, ImportedEntriesShowTheReferenceColourIndexes) {
    const std::vector<TReferenceGrid> grids = ReadReferenceGrids();
    ASSERT_GE(grids.size(), 60u);
    const std::vector<int> indexOf = IndexOfCode();
    std::string table = "\ncase                          agree %  within 1 %\n";
    for (const TReferenceGrid &grid : grids) {
        SCOPED_TRACE(grid.Name);
        auto fractal = std::make_unique<TCustomFractal>(&Manager);
        fractal->SetImageSize(16, 12);
        try {
            fractal->ReadParameters(*TEntryStream::CreateFromFile<TParReader>(
                                        ReferenceFolder() + "FracImport_reference.par", grid.Name),
                                    TCustomFractal::rfTakeSize, TFractalProgressEvent());
        } catch (const std::exception &e) {
            ADD_FAILURE() << "import failed: " << e.what();
            continue;
        }
        ASSERT_EQ(fractal->GetLayers().Count(), 1);
        TLayer &layer = fractal->GetLayers().Items(0);
        ASSERT_EQ(layer.GetWidth(), 160);
        ASSERT_EQ(layer.GetHeight(), 120);
        TLayerImage &image = layer.GetImage();
        auto finished = [&] {
            if (!fractal->IsCalculationDone() || layer.GetCalculationState() != csIdle)
                return false;
            image.Lock();
            bool all = image.Mode() == lmCode;
            for (int y = 0; y < image.Height() && all; ++y)
                for (int x = 0; x < image.Width() && all; ++x)
                    all = *reinterpret_cast<const std::uint16_t *>(image.PixelPtr(x, y)) != UncalculatedCode;
            image.Unlock();
            return all;
        };
        ASSERT_TRUE(WaitUntil(finished)) << "the layer did not finish";
        EXPECT_EQ(layer.GetCalculationError(), "");

        int agree = 0, withinOne = 0, shown = 0;
        std::string differences;
        for (int y = 0; y < 120; ++y)
            for (int x = 0; x < 160; ++x) {
                const std::uint16_t code = *reinterpret_cast<const std::uint16_t *>(image.PixelPtr(x, y));
                const int index = code < indexOf.size() ? indexOf[code] : -1;
                const int expected = grid.Indexes[static_cast<std::size_t>(y * 160 + x)];
                agree += index == expected;
                withinOne += index >= 0 && std::abs(index - expected) <= 1;
                if (index != expected && shown++ < 6)
                    differences += " (" + std::to_string(x) + "," + std::to_string(y) +
                                   "): " + std::to_string(index) + " for " + std::to_string(expected);
            }
        const double share = 100.0 * agree / (160 * 120), nearShare = 100.0 * withinOne / (160 * 120);
        char line[128];
        std::snprintf(line, sizeof line, "%-28s %8.2f %10.2f\n", grid.Name.c_str(), share, nearShare);
        table += line;
        EXPECT_GE(share, 99.5) << "first differences:" << differences;
    }
    std::printf("%s", table.c_str());
}
