// What is written reads back: documents and Fractint entries, mutated at random (a fixed seed, a
// bounded count), are read; every one that is accepted is written, read again and written again,
// and both texts must be equal. A refused input must be refused as one of the library's
// exceptions.
#include <cstdint>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompEntries.h"
#include "CompPersistent.h"
#include "FracCalculate.h"
#include "FracDocument.h"
#include "FracImportSupport.h"

namespace {

std::string FixturePath() {
    return std::string(TEST_DATA_DIR) + "fractal\\data\\FracLayer_fixtures.ofm";
}

std::string WrittenText(TCustomFractal &Fractal) {
    TParWriter writer;
    Fractal.WriteParameters(writer, TCustomFractal::wfEditable | TCustomFractal::wfMaskOnly |
                                        TCustomFractal::wfActive);
    return writer.GetText();
}

// Reads the body as entry Name into a fresh document; false when the document refuses it.
bool ReadInto(TCustomFractal &Fractal, const std::string &Name, const std::string &Body) {
    try {
        auto reader = TEntryStream::CreateFromString<TParReader>(Name + " {\r\n" + Body + "}\r\n");
        Fractal.ReadParameters(*reader, TCustomFractal::rfTakeSize, TFractalProgressEvent());
        return true;
    } catch (const Exception &) {
        return false;
    }
}

// One random change of the text: a character put in, taken out or replaced (drawn mostly from
// those the text format gives a meaning to), a line repeated, or a value replaced by one that
// stretches its reader (empty, signs, exponents out of range, words, separators, braces).
std::string Mutate(const std::string &Text, std::mt19937 &Random) {
    static const std::string characters = "{}\"\\;:=/ \r\n\t0123456789.-+eExyz_";
    static const char *const values[] = {
        "",        "0",          "-0",          "1e4000",       "-1e-4000",
        "nan",     "inf",        "+5",          "05",           "1.",
        ".5",      "-1",         "yes",         "NO",           "\"q\"",
        "\"a b\"", "{",          "}",           "1/2",          "/",
        "1//2",    "2147483648", "-2147483649", "1e10",         "0.000000000000000000001",
        "360",     "-720",       "\"\"",        "\"x{y}\"",     "400",
        "-201",    "a;b",        "\\",          "1/2/3/4/5/6/7"};
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(Random() % n); };
    std::string result = Text;
    const std::size_t at = pick(result.size());
    const char c = characters[pick(characters.size())];
    switch (pick(6)) {
    case 4:
    case 5: {
        // The value of the item at or after the position.
        const std::size_t equals = result.find('=', at);
        if (equals == std::string::npos)
            break;
        std::size_t end = equals + 1;
        if (end < result.size() && result[end] == '"')
            end = result.find('"', end + 1) == std::string::npos ? result.size()
                                                                 : result.find('"', end + 1) + 1;
        else
            while (end < result.size() && result[end] != ' ' && result[end] != '\r')
                ++end;
        result.replace(equals + 1, end - equals - 1, values[pick(std::size(values))]);
        break;
    }
    case 0:
        result.insert(at, 1, c);
        break;
    case 1:
        result.erase(at, 1);
        break;
    case 2:
        result[at] = c;
        break;
    default: {
        const std::size_t start = result.rfind('\n', at);
        const std::size_t end = result.find('\n', at);
        const std::size_t from = start == std::string::npos ? 0 : start + 1;
        if (end != std::string::npos)
            result.insert(from, result.substr(from, end + 1 - from));
        break;
    }
    }
    return result;
}

class TRoundTripTest : public testing::Test {
protected:
    TShippedFormulaFolders Folders;
    TCalculateManager Manager{1};

    // Mutates Base Count times; every accepted text must read back to the same written text.
    void CheckMutations(const std::string &Base, int Count, std::uint32_t Seed) {
        std::mt19937 random(Seed);
        int accepted = 0;
        for (int i = 0; i < Count; ++i) {
            std::string input = Base;
            for (int changes = 1 + static_cast<int>(random() % 3); changes > 0; --changes)
                input = Mutate(input, random);
            SCOPED_TRACE(testing::Message() << "mutation " << i << ":\n" << input);
            TCustomFractal first(&Manager);
            if (!ReadInto(first, "Mutated", input))
                continue;
            ++accepted;
            const std::string written = WrittenText(first);
            TCustomFractal second(&Manager);
            if (!ReadInto(second, "Mutated", written)) {
                ADD_FAILURE() << "refused what was written:\n" << written;
                continue;
            }
            EXPECT_EQ(WrittenText(second), written);
        }
        // The mutations are small: most inputs stay readable.
        EXPECT_GT(accepted, Count / 4);
    }
};

} // namespace

TEST_F(TRoundTripTest, MutatedDocumentsReadBackAsWritten) {
    TCustomFractal base(&Manager);
    base.BeginChange();
    base.SetImageSize(24, 16);
    base.SetTitle("Round {trip} \"base\"");
    TLayer &bottom = *base.GetActiveLayer();
    bottom.GetFormula().SetSource(FixturePath(), "MandelPlain");
    bottom.GetFormula().SetMaxIter(40);
    bottom.GetGradient().SetComments("Gradient {notes} with \"quotes\"\r\nand a/slash");
    base.DuplicateLayer("Julia {top}");
    TLayer &top = base.GetLayers().Items(0);
    top.GetFormula().SetSource(FixturePath(), "JuliaPlain");
    top.SetMergeMode(static_cast<std::uint8_t>(MergeModeFromName("screen")));
    top.SetOpacity(70);
    base.EndChange();
    const std::string text = WrittenText(base);
    // The base itself is stable.
    TCustomFractal copy(&Manager);
    ASSERT_TRUE(ReadInto(copy, "Base", text)) << text;
    ASSERT_EQ(WrittenText(copy), text);
    CheckMutations(text, 100, 20261211);
}

const char *const FractintEntry =
    "  type=julia params=-0.12/0.75 maxiter=256 passes=2\r\n"
    "  corners=-1.6/1.6/-1.2/1.2 inside=zmag outside=real\r\n"
    "  periodicity=no bailout=16 bailoutest=manh viewwindows=1/0.75/yes/40/30\r\n"
    "  colors=000<3>zzzz00<2>zz0 logmap=3 decomp=16 invert=0.5/0/0\r\n";

TEST_F(TRoundTripTest, MutatedFractintEntriesReadBackAsWritten) {
    CheckMutations(FractintEntry, 100, 11122026);
}

// The imported document in its own text: transformations, colorings and parameters of the
// shipped formula files.
TEST_F(TRoundTripTest, MutatedImportedDocumentsReadBackAsWritten) {
    TCustomFractal imported(&Manager);
    ASSERT_TRUE(ReadInto(imported, "Imported", FractintEntry));
    CheckMutations(WrittenText(imported), 100, 5318008);
}
