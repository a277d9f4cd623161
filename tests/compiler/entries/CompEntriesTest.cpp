// Entry files: scanning fixture files of several formats, the per-entry look-ups and the editing
// operations on the raw text.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompEntries.h"
#include "CompEntriesTestSupport.h"
#include "CompPersistent.h"

namespace {

struct TExpectedEntry {
    const char *Name;
    const char *Title;
    int StartLine, StartColumn;
    const char *Text;
    const char *HeaderStart; // the text from the name on, to locate the name in the file
};

struct TScanCase {
    const char *File;
    std::vector<TExpectedEntry> Entries;
};

const TScanCase ScanCases[] = {
    {"formulas_crlf.ofm",
     {{"Mandelbrot", "Classic Mandelbrot", 3, 0,
       "; leading comment\r\ninit:\r\n  z = 0\r\nloop:\r\n  z = sqr(z) + #pixel  ; a brace } in a comment\r\n"
       "bailout:\r\n  |z| < 4\r\n",
       "Mandelbrot (Classic"},
      {"Empty", "", 13, 0, "", "Empty {"},
      {"Inline", "", 15, 7, " z = 1 ", "Inline{"},
      {"NoTitle", "", 17, 0, "x", "NoTitle{"}}},
    {"colorings_cr.ocl",
     {{"Smooth", "Smooth coloring", 1, 0, "final:\r  #index = 0.05 * real(#numiter)\r", "Smooth ("},
      {"Second", "", 5, 0, "", "Second()"}}},
    {"fractint.frm",
     {{"comment", "", 1, 0, "  This file holds three formulas in the public text format.\r\n", "comment {"},
      {"Mandel3", "XAXIS", 4, 17,
       " ; cubic Mandelbrot\r\n  z = pixel:\r\n  z = z*z*z + pixel,\r\n  |z| <= 4\r\n  ", "Mandel3 ("},
      {"JuliaSin", "XYAXIS_NOPARM", 11, 0, "  z = pixel, c = p1:\r\n  z = c * sin(z)\r\n  |real(z)| < 50 ",
       "JuliaSin("},
      {"Phoenix", "ORIGIN", 15, 18, "z=pixel: z=z*z+p1 |z|<=4", "Phoenix ("}}},
    {"fractint.par",
     {{"Spiral_Arm", "", 1, 18,
       " ; made with 20.0\r\n  reset=2004 type=mandel corners=-0.7454/-0.7452/0.1130/0.1132\r\n"
       "  maxiter=1500 inside=0 periodicity=0\r\n  colors=000<10>0Z0<20>zzz<30>000\r\n  ",
       "Spiral_Arm "},
      {"Dragon", "", 7, 8, " ; a comment hides this brace }\r\n  reset=1900 type=julia ", "Dragon {"},
      {"frm:Mandel3", "", 11, 0,
       "  reset=2004 type=formula formulafile=fractint.frm\r\n  formulaname=Mandel3\r\n  ",
       "frm:Mandel3 {"}}},
    // Stray closing braces, a title without a name, a restart inside a body and an entry that
    // never closes.
    {"broken.ofm", {{"body", "", 5, 0, "  restarted here\r\n", "body {"}}},
};

void ExpectEntries(TEntryCollection &Collection, const std::string &Source,
                   const std::vector<TExpectedEntry> &Expected, const std::string &What) {
    ASSERT_EQ(Collection.GetCount(), static_cast<int>(Expected.size())) << What;
    for (std::size_t i = 0; i < Expected.size(); ++i) {
        const TExpectedEntry &e = Expected[i];
        TEntryData *entry = Collection.GetEntry(static_cast<int>(i));
        EXPECT_EQ(entry->Name(), e.Name) << What;
        EXPECT_EQ(entry->Title(), e.Title) << What << " " << e.Name;
        EXPECT_EQ(entry->StartLine(), e.StartLine) << What << " " << e.Name;
        EXPECT_EQ(entry->StartColumn(), e.StartColumn) << What << " " << e.Name;
        EXPECT_EQ(entry->GetText(), e.Text) << What << " " << e.Name;
        EXPECT_EQ(entry->NamePos(), static_cast<int64_t>(Source.find(e.HeaderStart)))
            << What << " " << e.Name;
        EXPECT_EQ(entry->Index(), static_cast<int>(i));
    }
}

TEST(EntryScanner, FindsNamesTitlesAndPositions) {
    for (const TScanCase &c : ScanCases) {
        std::string source = ReadFileBytes(CompilerDataPath(c.File));
        ASSERT_FALSE(source.empty()) << c.File;
        for (bool keep : {false, true}) {
            auto reader = TEntryReader::CreateFromFile(CompilerDataPath(c.File), keep);
            for (int i = 0; i < reader->GetCount(); ++i)
                EXPECT_EQ(reader->GetEntry(i)->TextLoaded(), keep) << "texts are read on demand only";
            ExpectEntries(*reader, source, c.Entries, std::string(c.File) + (keep ? " (texts kept)" : ""));
        }
    }
}

TEST(EntryScanner, EntryStreamsStartAtTheBodyPosition) {
    auto reader = TEntryReader::CreateFromFile(CompilerDataPath("fractint.frm"), false);
    TEntryStream phoenix(*reader, reader->IndexOfName("PHOENIX"));
    EXPECT_EQ(phoenix.Name(), "Phoenix");
    EXPECT_EQ(phoenix.Title(), "ORIGIN");
    EXPECT_EQ(phoenix.CurrentChar(), 'z');
    EXPECT_EQ(phoenix.Line(), 15);
    EXPECT_EQ(phoenix.Column(), 18);

    TEntryStream julia(*reader, reader->IndexOfName("juliasin"));
    julia.SkipLine();
    while (julia.CurrentChar() == ' ')
        julia.NextChar();
    EXPECT_EQ(julia.CurrentChar(), 'z');
    EXPECT_EQ(julia.Line(), 12);
    EXPECT_EQ(julia.Column(), 2);
}

TEST(EntryScanner, HandlesLinesLongerThanAReadBlock) {
    // Text before the name on the header line is allowed; here it is longer than any read block.
    const std::string prefix(10000, 'x');
    const std::string text = "First {\r\na=1\r\n}\r\n" + prefix + " } Long (Far away) {body}\r\n" +
                             std::string(5000, ';') + "{\r\nLast{\r\n}";
    auto reader = TEntryReader::CreateFromString(text, false);
    ASSERT_EQ(reader->GetCount(), 3);
    TEntryData *entry = reader->GetEntry(1);
    EXPECT_EQ(entry->Name(), "Long");
    EXPECT_EQ(entry->Title(), "Far away");
    EXPECT_EQ(entry->NamePos(), static_cast<int64_t>(text.find("Long (")));
    EXPECT_EQ(entry->StartLine(), 3);
    EXPECT_EQ(entry->StartColumn(), static_cast<int>(prefix.size() + 20));
    EXPECT_EQ(entry->GetText(), "body");
    EXPECT_EQ(reader->GetEntry(2)->Name(), "Last");
    EXPECT_EQ(reader->GetEntry(2)->StartLine(), 6);
}

// Every line-end form must scan to the same entries.
TEST(EntryScanner, EveryLineEndFormGivesTheSameEntries) {
    for (const TScanCase &c : ScanCases) {
        const std::string original = ReadFileBytes(CompilerDataPath(c.File));
        ASSERT_FALSE(original.empty()) << c.File;
        for (const TLineEndForm &form : LineEndForms) {
            const std::string text = WithLineEnds(original, form.Break);
            std::vector<std::string> texts, headers;
            for (const TExpectedEntry &e : c.Entries) {
                texts.push_back(WithLineEnds(e.Text, form.Break));
                headers.push_back(WithLineEnds(e.HeaderStart, form.Break));
            }
            std::vector<TExpectedEntry> expected = c.Entries;
            for (std::size_t i = 0; i < expected.size(); ++i) {
                expected[i].Text = texts[i].c_str();
                expected[i].HeaderStart = headers[i].c_str();
            }
            for (bool keep : {false, true}) {
                auto reader = TEntryReader::CreateFromString(text, keep);
                ExpectEntries(*reader, text, expected, std::string(c.File) + " in " + form.Name);
            }
        }
    }
}

// The scanner judges each '{' from what it kept of the line; the header rule applied to the
// whole line before each '{' must give the same entries. Random lines of header characters.
TEST(EntryScanner, AgreesWithTheHeaderRuleOnRandomText) {
    struct TFound {
        std::string Name, Title;
        int64_t NamePos;
        bool operator==(const TFound &) const = default;
    };
    const char alphabet[] = "aab  \t(){{}};\r\nx)(";
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    for (int round = 0; round < 1000; ++round) {
        std::string text;
        const int length = 20 + static_cast<int>(next() % 200);
        for (int i = 0; i < length; ++i)
            text += alphabet[next() % (sizeof(alphabet) - 1)];
        // Reference: the whole line before each '{' through the header rule.
        std::vector<TFound> expected;
        std::string line, name, title;
        int64_t lineStart = 0, namePos = 0;
        bool comment = false, open = false;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c == '\r' || c == '\n') {
                if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                    ++i;
                line.clear();
                comment = false;
                lineStart = static_cast<int64_t>(i) + 1;
                continue;
            }
            line += c;
            if (comment)
                continue;
            std::size_t pos;
            if (c == ';') {
                comment = true;
            } else if (c == '{' && ParseEntryHeaderPos(line.data(), line.size(), name, title, pos)) {
                open = true;
                namePos = lineStart + static_cast<int64_t>(pos) - 1;
            } else if (c == '}' && open) {
                open = false;
                expected.push_back({name, title, namePos});
            }
        }
        auto reader = TEntryReader::CreateFromString(text, false);
        std::vector<TFound> found;
        for (int i = 0; i < reader->GetCount(); ++i) {
            TEntryData *entry = reader->GetEntry(i);
            found.push_back({entry->Name(), entry->Title(), entry->NamePos()});
        }
        std::string report;
        for (const TFound &f : found)
            report += " found[" + f.Name + "|" + f.Title + "|" + std::to_string(f.NamePos) + "]";
        for (const TFound &f : expected)
            report += " expected[" + f.Name + "|" + f.Title + "|" + std::to_string(f.NamePos) + "]";
        ASSERT_TRUE(found == expected) << "round " << round << ": " << text << report;
    }
}

TEST(EntryScanner, CommentsEndAtEveryLineEnd) {
    // A ';' comment, with braces in it, ends with its line, whatever the line end is.
    const std::string source = "; a comment { with braces }\r\nOne {\r\na=1 ; } not the end\r\n}\r\n"
                               "; Two {\r\nThree (Third) {\r\nb=2\r\n}\r\n";
    for (const TLineEndForm &form : LineEndForms) {
        const std::string text = WithLineEnds(source, form.Break);
        auto reader = TEntryReader::CreateFromString(text, false);
        ASSERT_EQ(reader->GetCount(), 2) << form.Name;
        EXPECT_EQ(reader->GetEntry(0)->Name(), "One") << form.Name;
        EXPECT_EQ(reader->GetEntry(0)->GetText(), WithLineEnds("a=1 ; } not the end\r\n", form.Break));
        EXPECT_EQ(reader->GetEntry(1)->Name(), "Three") << form.Name;
        EXPECT_EQ(reader->GetEntry(1)->Title(), "Third") << form.Name;
        EXPECT_EQ(reader->GetEntry(1)->StartLine(), 6) << form.Name;
        EXPECT_EQ(reader->GetEntry(1)->StartColumn(), 0) << form.Name;
    }
}

TEST(EntryHeader, SplitsNameAndTitle) {
    struct Case {
        const char *Header; // without the '{'
        bool Valid;
        const char *Name, *Title;
        std::size_t NamePos;
    } cases[] = {
        {"Name ", true, "Name", "", 1},
        {"Name(Title)", true, "Name", "Title", 1},
        {"  Name  ( Two words )\t", true, "Name", "Two words", 3},
        {"} Next", true, "Next", "", 3},
        {"text before}Name", true, "Name", "", 13},
        {"(Only a title) ", false, "", "", 0},
        {" (Only a title)", false, "", "", 0},
        {"Name Title)", false, "", "", 0},
        {"", false, "", "", 0},
        {"   ", false, "", "", 0},
        {"}", false, "", "", 0},
        {"frm:Mandel3", true, "frm:Mandel3", "", 1},
        {"a(b(c))", true, "a(b", "c)", 1},
    };
    for (const Case &c : cases) {
        std::string text = std::string(c.Header) + "{";
        std::string name = "unchanged", title = "unchanged";
        std::size_t namePos = 0;
        bool valid = ParseEntryHeaderPos(text.data(), text.size(), name, title, namePos);
        EXPECT_EQ(valid, c.Valid) << c.Header;
        if (valid && c.Valid) {
            EXPECT_EQ(name, c.Name) << c.Header;
            EXPECT_EQ(title, c.Title) << c.Header;
            EXPECT_EQ(namePos, c.NamePos) << c.Header;
        }
    }
}

TEST(EntryNames, TitlesBecomeNamesAndBack) {
    struct Case {
        const char *Title, *Name;
    } cases[] = {
        {"Golden spiral (2)", "GoldenSpiral2"},
        {"  leading blank", "LeadingBlank"},
        {"a:b;c{d}e", "aBCDE"},
        {"already_Name", "already_Name"},
        {"caf\xe9 noir", "caf\xe9Noir"},
        {" ( ) ", "Default"},
        {"", "Default"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TitleToName(c.Title), c.Name) << c.Title;
    EXPECT_EQ(NameToTitle("Golden_Spiral_2"), "Golden Spiral 2");
}

const char ParameterEntry[] = "Spiral {\r\n"
                              "; Made for the tests\r\n"
                              ";   second line  \r\n"
                              ";\r\n"
                              "fractal:\r\n"
                              "  title=\"Golden \\\r\n"
                              "     Spiral\" width=640\r\n"
                              "  credits=\"Jane Doe;8/19/2004;extra\" created=\"August 1, 2003\"\r\n"
                              "  ; subtitle=\"in a comment\"\r\n"
                              "formula:\r\n"
                              "  filename=\"Standard.ofm\" entry=\"Mandelbrot\"\r\n"
                              "inside:\r\n"
                              "  filename=\"Extra.ocl\" entry=\"Smooth\"\r\n"
                              "gradient:\r\n"
                              "  title=\"\"\r\n"
                              "}\r\n"
                              "\r\n"
                              "Bare {\r\n"
                              "fractal:\r\n"
                              "  created=\"august 19 2004\" title=\"\"\r\n"
                              "}\r\n";

TEST(EntryData, LooksUpKeysInTheRawText) {
    auto reader = TEntryReader::CreateFromString(ParameterEntry, false);
    ASSERT_EQ(reader->GetCount(), 2);
    TEntryData *spiral = reader->GetEntry(0);
    TEntryData *bare = reader->GetEntry(1);

    EXPECT_EQ(spiral->GetTitle(), "Golden Spiral");
    EXPECT_EQ(spiral->GetAuthor(), "Jane Doe");
    EXPECT_EQ(spiral->GetDate(), EncodeDate(2004, 8, 19));
    EXPECT_EQ(spiral->GetComments(), "Made for the tests\r\nsecond line  \r\n");
    EXPECT_EQ(bare->GetTitle(), "Bare") << "an empty title value gives the name";
    EXPECT_EQ(bare->GetAuthor(), "");
    EXPECT_EQ(bare->GetDate(), EncodeDate(2004, 8, 19));

    struct Case {
        const char *Key;
        std::vector<std::string> Sections;
        const char *Value;
    } cases[] = {
        {"TITLE", {"GRADIENT"}, "Spiral"}, // empty value: the entry's name
        {"title", {"fractal", "gradient"}, "Golden Spiral"},
        {"SUBTITLE", {"FRACTAL"}, "in a comment"}, // keys are found inside comments too
        {"ENTRY", {"FORMULA"}, "Mandelbrot"},
        {"ENTRY", {"LAYER"}, ""},
        {"WIDTH", {"FRACTAL"}, ""}, // values without quotes are not looked up
        {"", {"FRACTAL"}, ""},
    };
    for (const Case &c : cases) {
        std::string value = "unchanged";
        spiral->FindKey(c.Key, c.Sections, value);
        EXPECT_EQ(value, c.Value) << c.Key;
    }
    TStringList all;
    std::string first;
    EXPECT_TRUE(spiral->FindKey("filename", {"FORMULA", "INSIDE"}, first, &all));
    ASSERT_EQ(all.Count(), 2);
    EXPECT_EQ(all[0], "Standard.ofm");
    EXPECT_EQ(all[1], "Extra.ocl");

    EXPECT_TRUE(spiral->ReferencesEntry("smooth"));
    EXPECT_TRUE(spiral->ReferencesFile("STANDARD"));
    EXPECT_FALSE(spiral->ReferencesFile("golden"));
    EXPECT_EQ(reader->IndexOfTitle("golden spiral"), 0);
    EXPECT_EQ(reader->IndexOfTitle("BARE"), 1);
    EXPECT_EQ(reader->IndexOfName("bare"), 1);
    EXPECT_EQ(reader->IndexOfName("Missing"), -1);
}

// The collecting look-up finds every key, also keys close together on one line whose values run
// to the next quote, and values continued over lines; a ':' in a value ends the section.
TEST(EntryData, CollectsEveryValueOfTheKey) {
    std::string manyOnOneLine = "formula:";
    std::vector<std::string> manyValues;
    for (int i = 0; i < 3000; ++i) {
        manyOnOneLine += " entry=\"";
        manyValues.push_back(" entry=");
    }
    manyValues.back() = "E"; // the last value is empty: the entry's name
    struct TCase {
        std::string Body;
        std::vector<std::string> Values;
    } cases[] = {
        {"formula: entry=\"entry=\"entry=\"\r\n", {"entry=", "entry=", "E"}},
        {"formula:\r\n  entry=\"one \\\r\n   two\" ENTRY=\"three\"\r\ninside: Entry=\"four",
         {"one two", "three", "four"}},
        {"inside: entry=\"a\" filename=\"f:x\" entry=\"b\"\r\n", {"a"}},
        {"layer: entry=\"a\"\r\noutside:entry = \"b\" ; entry=\"c\"\r\n", {"b", "c"}},
        {manyOnOneLine, manyValues},
    };
    for (const TCase &c : cases) {
        auto reader = TEntryReader::CreateFromString("E {\r\n" + c.Body + "\r\n}\r\n", false);
        ASSERT_EQ(reader->GetCount(), 1);
        TStringList values;
        std::string first;
        EXPECT_TRUE(reader->GetEntry(0)->FindKey("ENTRY", {"FORMULA", "INSIDE", "OUTSIDE"}, first, &values));
        std::vector<std::string> found;
        for (int i = 0; i < values.Count(); ++i)
            found.push_back(values[i]);
        EXPECT_TRUE(found == c.Values) << c.Body.substr(0, 60) << ": " << found.size() << " values";
        EXPECT_EQ(first, c.Values.front());
        EXPECT_TRUE(reader->GetEntry(0)->ReferencesEntry(UpperCase(c.Values.back())));
        EXPECT_FALSE(reader->GetEntry(0)->ReferencesEntry("absent"));
    }
}

TEST(EntryData, LookUpsReadEveryLineEndForm) {
    for (const TLineEndForm &form : LineEndForms) {
        auto reader = TEntryReader::CreateFromString(WithLineEnds(ParameterEntry, form.Break), false);
        ASSERT_EQ(reader->GetCount(), 2) << form.Name;
        TEntryData *spiral = reader->GetEntry(0);
        // A continued title, comments joined with CR LF, keys after a comment line, a date.
        EXPECT_EQ(spiral->GetTitle(), "Golden Spiral") << form.Name;
        EXPECT_EQ(spiral->GetComments(), "Made for the tests\r\nsecond line  \r\n") << form.Name;
        EXPECT_EQ(spiral->GetAuthor(), "Jane Doe") << form.Name;
        EXPECT_EQ(spiral->GetDate(), EncodeDate(2004, 8, 19)) << form.Name;
        std::string value;
        spiral->FindKey("ENTRY", {"INSIDE"}, value);
        EXPECT_EQ(value, "Smooth") << form.Name;
        EXPECT_EQ(reader->GetEntry(1)->GetTitle(), "Bare") << form.Name;
    }
}

TEST(EntryCollection, AppendsWithOneEmptyLineBetweenEntries) {
    struct Case {
        const char *Before;
        const char *Title;
        const char *Body;
        const char *After;
    } cases[] = {
        {"", "", "a=1\r\n", "New {\r\na=1\r\n}\r\n"},
        {"Old {\r\n}\r\n\r\n\r\n\r\n", "", "a=1", "Old {\r\n}\r\n\r\nNew {\r\na=1\r\n}\r\n"},
        {"  \r\n\t\r\n", "A title", "", "New (A title) {\r\n\r\n}\r\n"},
        {"; only a comment", "", "x", "; only a comment\r\n\r\nNew {\r\nx\r\n}\r\n"},
        // A body whose last line ends with a lone LF or CR gets no empty line before the brace.
        {"", "", "a=1\n", "New {\r\na=1\n}\r\n"},
        {"", "", "a=1\r", "New {\r\na=1\r}\r\n"},
    };
    for (const Case &c : cases) {
        TStringStream stream(c.Before);
        TEntryReader reader(stream, false);
        reader.AppendEntry(std::string(c.Body), "New", c.Title, false);
        EXPECT_EQ(stream.DataString(), c.After) << c.Before;
        ASSERT_GE(reader.GetCount(), 1);
        EXPECT_EQ(reader.GetEntry(reader.GetCount() - 1)->Name(), "New");
    }
}

const char ThreeEntries[] = "One {\r\na=1\r\n}\r\n\r\n; about two\r\nTwo {\r\nb=2\r\n}\r\n; about three\r\n"
                            "} Three {\r\nc=3\r\n}\r\n";

TEST(EntryCollection, DeletesFromNameToNextName) {
    struct Case {
        int Index;
        const char *After;
    } cases[] = {
        {0, "Two {\r\nb=2\r\n}\r\n; about three\r\n} Three {\r\nc=3\r\n}\r\n"},
        {1, "One {\r\na=1\r\n}\r\n\r\n; about two\r\nThree {\r\nc=3\r\n}\r\n"},
        {2, "One {\r\na=1\r\n}\r\n\r\n; about two\r\nTwo {\r\nb=2\r\n}\r\n; about three\r\n} "},
    };
    for (const Case &c : cases) {
        TStringStream stream(ThreeEntries);
        TEntryReader reader(stream, false);
        ASSERT_EQ(reader.GetCount(), 3);
        reader.DeleteEntry(c.Index);
        EXPECT_EQ(stream.DataString(), c.After) << c.Index;
        EXPECT_EQ(reader.GetCount(), 2);
    }
    TStringStream stream(ThreeEntries);
    TEntryReader reader(stream, false);
    try {
        reader.DeleteEntry(5);
        ADD_FAILURE() << "no error";
    } catch (const EEntryError &e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (5)");
    }
    EXPECT_EQ(stream.DataString(), ThreeEntries);
}

TEST(EntryCollection, CopiesUnderUniqueNames) {
    auto source = TEntryReader::CreateFromString("N {\r\nfractal:\r\n  title=\"t\"\r\n}\r\n", false);
    TEntryWriter target;
    for (const char *name : {"N", "N1", "n2"})
        target.AppendEntry(std::string("a=1\r\n"), name, "", false);
    EXPECT_EQ(target.MakeUniqueName("N"), "N3");
    EXPECT_EQ(target.MakeUniqueName("Other"), "Other");

    target.CopyEntry(*source->GetEntry(0), cmCompressed);
    ASSERT_EQ(target.GetCount(), 4);
    EXPECT_EQ(target.GetEntry(3)->Name(), "N3");
    EXPECT_EQ(target.GetEntry(3)->GetText(), source->GetEntry(0)->GetText());
    EXPECT_TRUE(target.GetEntry(3)->Compressed());

    // Storage modes: plain, packed, as the source is stored.
    struct Case {
        int Mode;
        bool SourcePacked;
        bool Packed;
    } cases[] = {{cmPlain, true, false},
                 {cmCompressed, false, true},
                 {cmAsSource, true, true},
                 {cmAsSource, false, false},
                 {cmPlain, false, false}};
    for (const Case &c : cases) {
        TEntryWriter from;
        from.AppendEntry(std::string("; note\r\nx=1\r\n"), "E", "Header title", c.SourcePacked);
        TEntryWriter to;
        to.CopyEntryAs(*from.GetEntry(0), "Copy", c.Mode);
        ASSERT_EQ(to.GetCount(), 1);
        TEntryData *copy = to.GetEntry(0);
        EXPECT_EQ(copy->Name(), "Copy");
        EXPECT_EQ(copy->Title(), "Header title");
        EXPECT_EQ(copy->GetText(), "; note\r\nx=1\r\n");
        EXPECT_EQ(copy->Compressed(), c.Packed) << c.Mode << " " << c.SourcePacked;
        EXPECT_EQ(to.GetText().find("::") != std::string::npos, c.Packed);
    }

    // Copying an entry of the same collection.
    target.CopyEntry(*target.GetEntry(0), cmPlain);
    EXPECT_EQ(target.GetEntry(target.GetCount() - 1)->Name(), "N4");
}

TEST(EntryCollection, ChangesTitles) {
    struct Case {
        const char *What;
        const char *Body;
        const char *NewBody;
    } cases[] = {
        {"replaces a title", "fractal:\r\n  width=1 title=\"Old\" height=2\r\n",
         "fractal:\r\n  width=1 title=\"New \" height=2\r\n"},
        {"follows a continued title", "gradient:\r\n  title=\"Old \\\r\n    long\" smooth=yes\r\n  x=1\r\n",
         "gradient:\r\n  title=\"New \" smooth=yes\r\n  x=1\r\n"},
        {"inserts after the header", "; c\r\nfractal: width=1\r\nlayer:\r\n  a=1\r\n",
         "; c\r\nfractal:\r\n  title=\"New \"\r\nwidth=1\r\nlayer:\r\n  a=1\r\n"},
        {"inserts at the end", "fractal:\r\n  width=1\r\n", "fractal:\r\n  title=\"New \"\r\n  width=1\r\n"},
        {"adds a default section", "a=1\r\n", "a=1\r\ndefault:\r\n  title=\"New \"\r\n"},
        {"ignores a title in a comment", "fractal: ; title=\"No\"\r\n  w=1\r\n",
         "fractal:\r\n  title=\"New \"\r\n; title=\"No\"\r\n  w=1\r\n"},
    };
    // A body with lone CR or LF line ends is retitled alike; the lines are written back with CR LF.
    for (const TLineEndForm &form : LineEndForms) {
        for (const Case &c : cases) {
            const std::string what = std::string(c.What) + " in " + form.Name;
            TEntryWriter writer;
            writer.AppendEntry(WithLineEnds(c.Body, form.Break), "Target", "Header", false);
            writer.AppendEntry(std::string("b=2\r\n"), "Other", "", false);
            writer.ChangeTitle(0, "New \"");
            ASSERT_EQ(writer.GetCount(), 2) << what;
            EXPECT_EQ(writer.GetEntry(0)->Name(), "Other") << what;
            TEntryData *moved = writer.GetEntry(1);
            EXPECT_EQ(moved->Name(), "Target") << what;
            EXPECT_EQ(moved->Title(), "Header") << what;
            EXPECT_EQ(moved->GetText(), c.NewBody) << what;
        }
    }
}

TEST(EntryStreams, ReportMissingEntries) {
    EXPECT_THROW(TEntryStream::CreateFromString("no entries here"), EEntryError);
    try {
        TEntryStream::CreateFromString("{ } (x) {");
        ADD_FAILURE() << "no error";
    } catch (const EEntryError &e) {
        EXPECT_EQ(e.Message(), "No entries available on stream");
    }
    auto stream = TEntryStream::CreateFromString<TParReader>("junk } First (T) {a=1}\r\nSecond {b=2}");
    EXPECT_EQ(stream->Name(), "First");
    EXPECT_EQ(stream->Title(), "T");
    EXPECT_EQ(stream->Next(), "a");

    TEntryWriter writer;
    EXPECT_THROW(TEntryStream(writer, 0), EEntryError);
}

} // namespace
