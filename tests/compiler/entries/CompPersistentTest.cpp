// Parameter text: the entry cursor, the item reader, the line-building writer and copying.
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompEntries.h"
#include "CompEntriesTestSupport.h"
#include "CompPersistent.h"
#include "GenProgram.h"
#include "GenRegistry.h"
#include "GenSetup.h"

namespace {

// Every item of the text: "name:" for a section, key=value or key="value" for a pair, each
// followed by '|'.
std::string ReadItems(const std::string &Text) {
    TParReader reader(Text.data(), Text.size());
    std::string items;
    for (int guard = 0; guard < 10000; ++guard) {
        std::string key = reader.Next();
        if (key.empty()) {
            std::string section = reader.GetSectionName();
            if (section.empty())
                break;
            items += section + ":|";
            continue;
        }
        if (reader.Quoted())
            items += key + "=\"" + reader.GetValue() + "\"|";
        else
            items += key + "=" + reader.GetValue() + "|";
    }
    return items;
}

TEST(ParReader, ReadsItemsAsWritten) {
    struct Case {
        const char *Text;
        const char *Items;
    } cases[] = {
        {"a=1 b=\"x y\" c=\r\nd=2", "a=1|b=\"x y\"|c=|d=2|"},
        {"t=\"abc  \\\r\n   def\" u=1", "t=\"abc  def\"|u=1|"}, // continued quoted value keeps its blanks
        {"t=\"abc\r\ndef\" u=1", "t=\"abc def\"|u=1|"}, // an open quote reads the line break as a blank
        {"a=1 b", "a=1|"},                              // a key that ends the text is not delivered
        {"a=1 b=", "a=1|"},
        {"a=1 b=\r\n", "a=1|b=|"}, // the last line break ends an empty value
        {"; comment a=1\r\nb=x;y ;c=3\r\nd=4", "b=x;y|d=4|"},
        {"FRACTAL:\r\n  Title=\"Mixed Case\" WIDTH=640", "fractal:|title=\"Mixed Case\"|width=640|"},
        {"a = 1 x=2", "a=|==|1=|x=2|"}, // blanks around '=' give keys without values
        {"fractal: a=1 layer:b=2", "fractal:|a=1|layer:|b=2|"},
        {"s:\ra=1\rb=\"p q\"", "s:|a=1|b=\"p q\"|"}, // lone CR line ends
        {"a=x\"y\" b=';:='", "a=x\"y\"|b=';:='|"},
        {"a=\"open", "a=\"open\"|"},
        {"a=12\\\r\n   34 b=5", "a=1234|b=5|"},
        {"; note \\\r\na=1\r\nb=2", "b=2|"}, // a comment ending in a backslash swallows the next line
        {"a=C:\\dir\\ ;\r\nb=1", "a=C:\\dir\\|b=1|"},
        {"\r\n\r\n  \t", ""},
        {"", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ReadItems(c.Text), c.Items) << c.Text;
}

TEST(ParReader, ErrorsNameThePositionAfterTheValueAndTheKey) {
    struct Case {
        const char *Text;
        int StartLine, StartColumn;
        int Pairs; // pairs to read before converting
        const char *Position;
    } cases[] = {
        {"fractal:\r\n  width=abc height=1", 0, 0, 1, "(2:12), key \"width\""},
        {"a=yes\r\nb=maybe", 0, 0, 2, "(2:8), key \"b\""},
        {"a=1 \\\r\n    b=xyz", 0, 0, 2, "(2:10), key \"b\""},
        {"\tb=no1", 0, 0, 1, "(1:8), key \"b\""}, // a tab counts two columns
        {"x=bad", 9, 5, 1, "(10:11), key \"x\""},
        {"Layer:\r\n  MaxIter=1x", 0, 0, 1, "(2:13), key \"maxiter\""},
    };
    for (const Case &c : cases) {
        std::string text = c.Text;
        TParReader reader;
        reader.Load("Entry", "", c.StartLine, c.StartColumn, text.size(), text.data());
        for (int read = 0; read < c.Pairs;)
            if (!reader.Next().empty())
                ++read;
        try {
            reader.GetInteger();
            ADD_FAILURE() << c.Text << ": no error";
        } catch (const EInvalidParFile &e) {
            EXPECT_EQ(e.Message(),
                      std::string("Invalid parameter set. The first error \r\nwas encountered at position ") +
                          c.Position + ".")
                << c.Text;
        }
    }
}

TEST(ParReader, ConvertsValuesOrRaises) {
    enum Kind { Boolean, Integer, Cardinal, Float };
    struct Case {
        Kind What;
        const char *Value;
        bool Valid;
        long double Expected;
    } cases[] = {
        {Boolean, "yes", true, 1},
        {Boolean, "NO", true, 0},
        {Boolean, "Yes", true, 1},
        {Boolean, "1", false, 0},
        {Integer, "-17", true, -17},
        {Integer, "2147483647", true, 2147483647.0L},
        {Integer, "2147483648", false, 0},
        {Integer, "1.5", false, 0},
        {Integer, "", false, 0},
        {Cardinal, "4294967295", true, 4294967295.0L},
        {Cardinal, "-1", true, 4294967295.0L},
        {Cardinal, "4294967296", true, 0},
        {Cardinal, "x", false, 0},
        {Float, "1.5e3", true, 1500},
        {Float, "-0.25", true, -0.25L},
        {Float, "1,5", false, 0},
    };
    for (const Case &c : cases) {
        std::string text = std::string("k=") + c.Value + " end=1";
        TParReader reader(text.data(), text.size());
        ASSERT_EQ(reader.Next(), "k");
        long double result = 0;
        try {
            switch (c.What) {
            case Boolean:
                result = reader.GetBoolean() ? 1 : 0;
                break;
            case Integer:
                result = reader.GetInteger();
                break;
            case Cardinal:
                result = reader.GetCardinal();
                break;
            case Float:
                result = reader.GetFloat();
                break;
            }
            EXPECT_TRUE(c.Valid) << c.Value << " should be refused";
            EXPECT_EQ(result, c.Expected) << c.Value;
        } catch (const EInvalidParFile &) {
            EXPECT_FALSE(c.Valid) << c.Value << " should convert";
        }
    }
}

// A value type that keeps exact text and refuses some texts, as the decimal values do.
struct TTextValue {
    std::string Text = "0";
    void SetText(const std::string &Value) {
        if (Value.empty() || Value == "refused")
            throw Exception("Invalid floating-point number: '%s'", Value);
        Text = Value;
    }
};
struct TTextComplex {
    TTextValue Re, Im;
    void SetText(const std::string &ReText, const std::string &ImText) {
        TTextValue re, im;
        re.SetText(ReText);
        im.SetText(ImText);
        Re = re;
        Im = im;
    }
};

TEST(ParReader, ExactValuesKeepTheirTextOrRaise) {
    std::string text = "f=1.00000000000000000000001 c=-2.5/3e-400 bad=refused nosplit=1.5";
    TParReader reader(text.data(), text.size());
    TTextValue value;
    TTextComplex complex;
    ASSERT_EQ(reader.Next(), "f");
    reader.ReadFloatValue(value);
    EXPECT_EQ(value.Text, "1.00000000000000000000001");
    ASSERT_EQ(reader.Next(), "c");
    reader.ReadComplexValue(complex);
    EXPECT_EQ(complex.Re.Text, "-2.5");
    EXPECT_EQ(complex.Im.Text, "3e-400");
    ASSERT_EQ(reader.Next(), "bad");
    EXPECT_THROW(reader.ReadFloatValue(value), EInvalidParFile);
    ASSERT_EQ(reader.Next(), "nosplit");
    EXPECT_THROW(reader.ReadComplexValue(complex), EInvalidParFile);
    EXPECT_EQ(complex.Re.Text, "-2.5") << "a refused value changes nothing";

    TParWriter writer;
    writer.WriteSection("s");
    writer.WriteFloatValue("f", value);
    writer.WriteComplexValue("c", complex);
    writer.Finish();
    EXPECT_EQ(ReadItems(writer.GetText()), "s:|f=1.00000000000000000000001|c=-2.5/3e-400|");
}

TEST(EntryStream, TracksLinesColumnsAndContinuations) {
    std::string text = "ab\\  \r\n    cd\r\nef\\x\rg";
    TEntryStream stream;
    stream.Load("E", "", 10, 4, text.size(), text.data());
    struct Step {
        char Char;
        int Line, Column;
    } steps[] = {
        {'a', 10, 4}, {'b', 10, 5},  {'c', 11, 4}, {'d', 11, 5}, {' ', 12, 0}, {'e', 12, 0},
        {'f', 12, 1}, {'\\', 12, 2}, {'x', 12, 3}, {' ', 13, 0}, {'g', 13, 0},
    };
    for (const Step &s : steps) {
        EXPECT_EQ(stream.CurrentChar(), s.Char);
        EXPECT_EQ(stream.Line(), s.Line) << s.Char;
        EXPECT_EQ(stream.Column(), s.Column) << s.Char;
        stream.NextChar();
    }
    EXPECT_TRUE(stream.AtEnd());
    EXPECT_EQ(stream.CurrentChar(), 0);

    // Seeking and the saved cursors bring back the same places.
    stream.Seek(2, soFromBeginning);
    EXPECT_EQ(stream.CurrentChar(), 'c');
    stream.PushPosition();
    stream.SkipLine();
    EXPECT_EQ(stream.CurrentChar(), 'e');
    stream.PopPosition();
    EXPECT_EQ(stream.CurrentChar(), 'c');
    EXPECT_EQ(stream.Line(), 11);
    stream.PopPosition(); // an empty stack changes nothing
    EXPECT_EQ(stream.CurrentChar(), 'c');
}

// Text with every '|' written as Break.
std::string WithBreaks(const std::string &Text, const char *Break) {
    std::string result;
    for (char c : Text) {
        if (c == '|')
            result += Break;
        else
            result += c;
    }
    return result;
}

TEST(EntryStream, EveryLineEndFormReadsAlike) {
    struct Step {
        char Char;
        int Line, Column;
        bool AtLineEnd;
    } steps[] = {
        {'a', 10, 4, false}, {'b', 10, 5, false}, {'c', 11, 4, false}, {'d', 11, 5, true},
        {' ', 12, 0, false}, {'e', 12, 0, false}, {'f', 12, 1, false}, {'\\', 12, 2, false},
        {'x', 12, 3, true},  {' ', 13, 0, false}, {' ', 14, 0, true},  {'g', 14, 0, true},
    };
    for (const TLineEndForm &form : LineEndForms) {
        // A continuation with blanks after the backslash, an ordinary backslash, an empty line.
        const std::string text = WithBreaks("ab\\  |    cd|ef\\x||g", form.Break);
        TEntryStream stream;
        stream.Load("E", "", 10, 4, text.size(), text.data());
        for (const Step &s : steps) {
            EXPECT_EQ(stream.CurrentChar(), s.Char) << form.Name;
            EXPECT_EQ(stream.Line(), s.Line) << form.Name << " " << s.Char;
            EXPECT_EQ(stream.Column(), s.Column) << form.Name << " " << s.Char;
            EXPECT_EQ(stream.AtLineEnd(), s.AtLineEnd) << form.Name << " " << s.Char << s.Line;
            stream.NextChar();
        }
        EXPECT_TRUE(stream.AtEnd()) << form.Name;
        stream.Rewind();
        stream.SkipLine();
        EXPECT_EQ(stream.CurrentChar(), 'e') << form.Name << ": a continued line is one line";

        std::string comments;
        const std::string commented = WithBreaks("; first|;second  ||  ; third|key=1", form.Break);
        TEntryStream withComments(commented.data(), commented.size());
        withComments.ReadComments(comments);
        EXPECT_EQ(comments, "first\r\nsecond  \r\nthird") << form.Name;
    }
}

TEST(ParReader, EveryLineEndFormGivesTheSameItemsAndErrors) {
    const std::string source = "fractal:|  ; a comment = 1|  title=\"Long \\|   title\" width=640|"
                               "layer:|  height=abc|";
    for (const TLineEndForm &form : LineEndForms) {
        const std::string text = WithBreaks(source, form.Break);
        TParReader reader(text.data(), text.size());
        std::vector<std::string> items;
        std::string error;
        try {
            for (std::string key = reader.Next(); !key.empty() || !reader.GetSectionName().empty();
                 key = reader.Next()) {
                if (key.empty()) {
                    items.push_back(reader.GetSectionName() + ":");
                    continue;
                }
                items.push_back(key + "=" + reader.GetValue());
                if (key != "title")
                    reader.GetInteger();
            }
        } catch (const EInvalidParFile &e) {
            error = e.Message();
        }
        const std::vector<std::string> expected = {"fractal:", "title=Long title", "width=640",
                                                   "layer:", "height=abc"};
        EXPECT_EQ(items, expected) << form.Name;
        // The value ends at the line end after "abc": the cursor is at the start of line 7
        // (counted from 1).
        EXPECT_NE(error.find("(7:1)"), std::string::npos) << form.Name << ": " << error;
    }
}

TEST(EntryStream, ReadsLeadingComments) {
    struct Case {
        const char *Text;
        const char *Comments;
    } cases[] = {
        {"; first\r\n;second  \r\n;\r\n  ; third\r\nkey=1 ; not this", "first\r\nsecond  \r\n\r\nthird"},
        {"\r\n\r\n;after blank lines\r\n", "after blank lines"},
        {"key=1\r\n; too late", ""},
        {";", ""},
    };
    for (const Case &c : cases) {
        std::string text = c.Text;
        TEntryStream stream(text.data(), text.size());
        stream.NextChar();
        const int64_t position = stream.CursorPosition();
        const int line = stream.Line(), column = stream.Column();
        std::string comments;
        stream.ReadComments(comments);
        EXPECT_EQ(comments, c.Comments) << c.Text;
        EXPECT_EQ(stream.CursorPosition(), position) << "the cursor is kept";
        EXPECT_EQ(stream.Line(), line);
        EXPECT_EQ(stream.Column(), column);
    }
}

// The configuration's tab size counts for tabs; the chain of modules it needs is started here
// when no other test did.
TEST(EntryStream, TabsCountTheEditorTabSize) {
    bool started = ConfigManager() == nullptr;
    if (started) {
        InitializeGenProgram();
        InitializeGenRegistry();
        InitializeGenSetup();
    }
    ASSERT_NE(ConfigManager(), nullptr);
    int saved = ConfigManager()->Editor->TabSize;
    ConfigManager()->Editor->TabSize = 4;
    std::string text = "\tx=1";
    TParReader reader(text.data(), text.size());
    reader.NextChar();
    int column = reader.Column();
    ConfigManager()->Editor->TabSize = saved;
    if (started) {
        FinalizeGenSetup();
        FinalizeGenRegistry();
        FinalizeGenProgram();
    }
    EXPECT_EQ(column + 1, 5);
}

std::vector<std::string> Lines(const std::string &Text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = Text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(Text.substr(start, end - start));
    EXPECT_EQ(start, Text.size()) << "every line ends with CR LF";
    return lines;
}

TEST(ParWriter, ShortItemsFillLinesOfAtMost75) {
    TParWriter writer;
    writer.WriteSection("layer");
    std::string expected = "layer:|";
    for (int i = 0; i < 30; ++i) {
        std::string key = "key" + std::to_string(10 + i);
        writer.WriteString(key, "abcd"); // ten characters an item
        expected += key + "=abcd|";
    }
    writer.Finish();
    std::vector<std::string> lines = Lines(writer.GetText());
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "layer:");
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].substr(0, 2), "  ");
        EXPECT_LE(lines[i].size(), 75u);
        EXPECT_EQ(lines[i].size(), 67u) << "six items of ten a line";
    }
    EXPECT_EQ(ReadItems(writer.GetText()), expected);
}

TEST(ParWriter, BreaksLongItemsWithBackslashes) {
    struct Case {
        const char *What;
        std::string Key, Value;
        bool Quoted;
        std::vector<std::size_t> LineSizes; // including the continuation backslash
        char ContinuedLineStart;            // first character after the indentation of line 2
    } cases[] = {
        {"200 characters without blanks", "k", std::string(198, 'x'), false, {76, 76, 56}, 'x'},
        {"break inside a run of blanks",
         "k",
         std::string(64, 'a') + "b" + std::string(10, ' ') + std::string(20, 'c'),
         true,
         {70, 34},
         'b'},
        {"a run of blanks longer than a line", "k", "a" + std::string(80, ' ') + "b", true, {6, 84, 4}, 'a'},
    };
    for (const Case &c : cases) {
        TParWriter writer;
        writer.WriteSection("s");
        if (c.Quoted)
            writer.WriteQuoted(c.Key, c.Value);
        else
            writer.WriteString(c.Key, c.Value);
        writer.Finish();
        std::vector<std::string> lines = Lines(writer.GetText());
        ASSERT_EQ(lines.size(), c.LineSizes.size() + 1) << c.What;
        for (std::size_t i = 0; i < c.LineSizes.size(); ++i) {
            EXPECT_EQ(lines[i + 1].size(), c.LineSizes[i]) << c.What << " line " << i + 1;
            bool continued = i + 1 < c.LineSizes.size();
            EXPECT_EQ(lines[i + 1].back() == '\\', continued) << c.What << " line " << i + 1;
        }
        EXPECT_EQ(lines[2][2], c.ContinuedLineStart) << c.What;
        std::string value = c.Quoted ? "\"" + c.Value + "\"" : c.Value;
        EXPECT_EQ(ReadItems(writer.GetText()), "s:|" + c.Key + "=" + value + "|") << c.What;
    }
}

TEST(ParWriter, TrailingBackslashesDoNotJoinLines) {
    TParWriter writer;
    writer.WriteSection("paths");
    writer.WriteString("folder", "C:\\Fractals\\");
    writer.WriteComment("a comment that ends in a backslash \\");
    writer.WriteString("next", "1");
    // A value whose backslash would otherwise end a line of exactly 75 characters.
    writer.WriteString("a", std::string(62, 'a') + "\\");
    writer.WriteString("last", "\\");
    // A long value whose last piece would fit only without the " ;".
    writer.WriteString("long", std::string(140, 'z') + "\\");
    writer.Finish();
    writer.WriteSection("after");
    for (const std::string &line : Lines(writer.GetText()))
        EXPECT_LE(line.size(), line.back() == '\\' ? 76u : 75u) << line;
    EXPECT_EQ(ReadItems(writer.GetText()), "paths:|folder=C:\\Fractals\\|next=1|a=" + std::string(62, 'a') +
                                               "\\|last=\\|long=" + std::string(140, 'z') + "\\|after:|");
}

// A quoted value goes into a stored entry, where a brace would end the entry (or start another)
// and a line break reads back as one blank: what the text cannot hold is left out and each line
// break written as one blank, so the entry reads back as written and writes again the same.
TEST(ParWriter, QuotedValuesReadBackFromAnEntryAsWritten) {
    const struct {
        std::string Value, Written;
    } cases[] = {
        {"a {braced} \"quoted\" text", "a braced quoted text"},
        {"first\r\nsecond\rthird\nfourth", "first second third fourth"},
        {std::string("nul\0inside", 10), "nulinside"},
        {"} {", " "},
        {"plain ;:= \\ kept", "plain ;:= \\ kept"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Written);
        TParWriter writer;
        writer.WriteSection("s");
        writer.WriteQuoted("v", c.Value);
        writer.WriteInteger("after", 1);
        writer.Finish();
        std::string entry;
        writer.GetEntryText("Quoted", false, entry);
        auto reader = TEntryStream::CreateFromString<TParReader>(entry);
        ASSERT_EQ(reader->Next(), "");
        ASSERT_EQ(reader->Next(), "v");
        const std::string value = reader->GetValue();
        EXPECT_EQ(value, c.Written);
        EXPECT_EQ(reader->Next(), "after");
        TParWriter again;
        again.WriteSection("s");
        again.WriteQuoted("v", value);
        again.WriteInteger("after", 1);
        again.Finish();
        EXPECT_EQ(again.GetText(), writer.GetText());
    }
}

TEST(ParWriter, FinishesOnceAndWritesEntries) {
    TParWriter writer;
    std::string text;
    writer.GetEntryText("Early", false, text);
    EXPECT_EQ(text, "") << "nothing before Finish";
    TStringStream early;
    writer.WriteEntryToStream(early, "Early");
    EXPECT_EQ(early.DataString(), "");

    writer.WriteSection("fractal");
    writer.WriteQuoted("title", "A \"quoted\" title");
    writer.WriteBoolean("flag", true);
    writer.WriteInteger("width", -640);
    writer.WriteCardinal("mask", 4294967295u);
    writer.WriteFloat("magn", 0.5L);
    writer.Finish();
    writer.Finish();
    writer.WriteInteger("ignored", 1);
    writer.WriteComment("after finishing");
    const std::string body = "fractal:\r\n  title=\"A quoted title\" flag=yes width=-640 mask=4294967295 "
                             "magn=0.5\r\n; after finishing\r\n";
    EXPECT_EQ(writer.GetText(), body);

    TStringStream entry;
    writer.WriteEntryToStream(entry, "Saved");
    EXPECT_EQ(entry.DataString(), "Saved {\r\n" + body + "}\r\n");

    writer.GetEntryText("Packed", true, text);
    EXPECT_EQ(text.substr(0, 9), "Packed {\r");
    EXPECT_NE(text.find("\r\n::"), std::string::npos);
    auto stream = TEntryStream::CreateFromString<TParReader>(text);
    EXPECT_EQ(stream->Name(), "Packed");
    EXPECT_EQ(std::string(stream->Text(), stream->TextLength()), body);
}

// Random items written and read back: blanks, quotes, backslashes, comment and section
// characters, and long texts.
TEST(ParWriter, RandomItemsRoundTrip) {
    std::mt19937 random(1234567);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    const std::string bareChars = "abcXYZ0189.-+/\\;:=\"'<>()";
    const std::string quotedChars = "abcXYZ0189.-+/\\;:='<>() ";
    for (int document = 0; document < 300; ++document) {
        TParWriter writer;
        std::string expected;
        int sections = 1 + pick(4);
        for (int s = 0; s < sections; ++s) {
            std::string section = "sec" + std::to_string(s);
            writer.WriteSection(section);
            expected += section + ":|";
            if (pick(4) == 0)
                writer.WriteComment("note " + std::to_string(pick(1000)) + (pick(2) ? "\\" : ""));
            int items = pick(16);
            for (int i = 0; i < items; ++i) {
                std::string key;
                for (int k = 1 + pick(8); k > 0; --k)
                    key += static_cast<char>('a' + pick(26));
                int length = pick(8) == 0 ? 80 + pick(300) : pick(20);
                std::string value;
                if (pick(2)) {
                    int blanks = 0;
                    for (int k = 0; k < length; ++k) {
                        char c = quotedChars[pick(static_cast<int>(quotedChars.size()))];
                        // Runs of blanks stay short enough to fit on one line.
                        blanks = c == ' ' ? blanks + 1 : 0;
                        value += blanks > 5 ? 'q' : c;
                    }
                    writer.WriteQuoted(key, value);
                    expected += key + "=\"" + value + "\"|";
                } else {
                    for (int k = 0; k < length; ++k)
                        value += bareChars[pick(static_cast<int>(bareChars.size()))];
                    if (!value.empty() && value[0] == '"')
                        value[0] = 'x'; // a leading quote would make it a quoted value
                    writer.WriteString(key, value);
                    expected += key + "=" + value + "|";
                }
            }
        }
        writer.Finish();
        std::string text = writer.GetText();
        for (const std::string &line : Lines(text)) {
            if (line.substr(0, 2) == "; ")
                continue; // comment lines are not wrapped
            bool continued = !line.empty() && line.back() == '\\';
            EXPECT_LE(line.size(), continued ? 76u : 75u) << line;
        }
        ASSERT_EQ(ReadItems(text), expected) << "document " << document << ":\n" << text;
    }
}

// A small persistent class as the rest of the system writes them.
class TSample : public TPersistentObject {
public:
    int Width = 0;
    bool Smooth = false;
    std::string Caption;
    long double Scale = 0;

    void SaveToWriter(TParWriter &Writer) override {
        Writer.WriteSection("sample");
        Writer.WriteInteger("width", Width);
        Writer.WriteBoolean("smooth", Smooth);
        Writer.WriteQuoted("caption", Caption);
        Writer.WriteFloat("scale", Scale);
    }
    void LoadFromReader(TParReader &Reader) override {
        std::string key = Reader.Next();
        if (key.empty()) {
            if (Reader.GetSectionName() != "sample")
                Reader.RaiseError();
            key = Reader.Next();
        }
        for (; !key.empty(); key = Reader.Next()) {
            if (key == "width")
                Width = Reader.GetInteger();
            else if (key == "smooth")
                Smooth = Reader.GetBoolean();
            else if (key == "caption")
                Caption = Reader.GetValue();
            else if (key == "scale")
                Scale = Reader.GetFloat();
        }
    }
};

std::string SavedText(TPersistentObject &Object) {
    TParWriter writer;
    Object.SaveToWriter(writer);
    writer.Finish();
    return writer.GetText();
}

TEST(PersistentObject, CopyFromSavesAndLoads) {
    TSample source;
    source.Width = 1280;
    source.Smooth = true;
    source.Caption = std::string(90, 'w') + " with blanks";
    source.Scale = 0.125L;
    TSample copy;
    copy.CopyFrom(source);
    EXPECT_EQ(copy.Width, 1280);
    EXPECT_TRUE(copy.Smooth);
    EXPECT_EQ(copy.Caption, source.Caption);
    EXPECT_EQ(copy.Scale, 0.125L);
    EXPECT_EQ(SavedText(copy), SavedText(source));

    std::string foreign = "other:\r\n  width=1";
    TParReader reader(foreign.data(), foreign.size());
    EXPECT_THROW(copy.LoadFromReader(reader), EInvalidParFile);
}

} // namespace
