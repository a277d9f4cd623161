// The text form of gradients ("gradient" and "opacity" sections) and 256-colour palette files.
#include <cctype>
#include <vector>

#include "CompEntries.h"
#include "FracGradient.h"
#include "GenUtils.h"

namespace {

std::vector<std::string> SplitLines(const std::string &Text) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < Text.size(); ++i) {
        char c = Text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            if (c == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n')
                ++i;
        } else {
            line += c;
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

// The comments as one quoted value: line breaks as "/n" and '/' as "//" (EncodeLineBreaks), and
// the characters a quoted value cannot hold as pairs of their own: '{' "/[", '}' "/]", '"' "/'".
// Texts written before these pairs existed hold no such pair (every '/' was doubled), and readers
// that do not know them drop them as unknown pairs.
std::string EncodeComments(const std::string &Text) {
    std::string result;
    for (const char c : EncodeLineBreaks(Text)) {
        if (c == '{')
            result += "/[";
        else if (c == '}')
            result += "/]";
        else if (c == '"')
            result += "/'";
        else
            result += c;
    }
    return result;
}

std::string DecodeComments(const std::string &Text) {
    std::string result;
    std::string plain; // a run without the pairs of EncodeComments, decoded as line breaks
    for (std::size_t i = 0; i < Text.size(); ++i) {
        const char next = i + 1 < Text.size() ? Text[i + 1] : '\0';
        if (Text[i] == '/' && (next == '[' || next == ']' || next == '\'')) {
            result += DecodeLineBreaks(plain);
            plain.clear();
            result += next == '[' ? '{' : next == ']' ? '}' : '"';
            ++i;
        } else if (Text[i] == '/' && next != '\0') {
            plain += Text[i];
            plain += next;
            ++i;
        } else {
            plain += Text[i];
        }
    }
    return result + DecodeLineBreaks(plain);
}

// The file's name without folder and extension.
std::string FileTitle(const std::string &FileName) {
    std::string name = ExtractFileName(FileName);
    std::string ext = ExtractFileExt(name);
    return name.substr(0, name.size() - ext.size());
}

// Whether each line of the comments reads back from a comment line ("; " and the line): the reader
// passes the blanks after the ';' (so a line may not be empty or start with a blank or tab), and a
// backslash that ends a line continues it.
bool CommentLinesHold(const std::string &Comments) {
    for (const std::string &line : SplitLines(Comments)) {
        if (line.empty() || line[0] == ' ' || line[0] == '\t')
            return false;
        const std::size_t last = line.find_last_not_of(" \t");
        if (last != std::string::npos && line[last] == '\\')
            return false;
    }
    return true;
}

} // namespace

void TGradient::WriteParameters(TParWriter &Writer, int Flags, const std::string &ATitle) {
    const std::string &title = ATitle.empty() ? FTitle : ATitle;
    // Comments that comment lines cannot hold go into the "comments" key instead, which every
    // reader takes as well.
    if ((Flags & 16) && !CommentLinesHold(FComments))
        Flags &= ~16;
    if ((Flags & 16) && !FComments.empty())
        for (const std::string &line : SplitLines(FComments))
            Writer.WriteComment(line);
    auto writeNodes = [&](TGradientItems &items, bool color) {
        for (int i = 0; i < items.GetCount(); ++i) {
            TGradientNode *node = items.GetNode(i);
            Writer.WriteInteger("index", node->Position());
            if (color)
                Writer.WriteInteger("color", static_cast<std::int32_t>(node->GetValue()));
            else
                Writer.WriteInteger("opacity", static_cast<std::int32_t>(node->GetValue()));
            if (Flags & 64)
                Writer.WriteBoolean("selected", node->Selected());
        }
    };
    auto writeHead = [&] {
        if (Flags & 8)
            Writer.WriteQuoted("title", title);
        if (!FComments.empty() && !(Flags & 16))
            Writer.WriteQuoted("comments", EncodeComments(FComments));
    };
    if (Flags & 1) {
        Writer.WriteSection("gradient");
        writeHead();
        if ((Flags & 2) && FLinked)
            Writer.WriteBoolean("linked", true);
        if (Flags & 4)
            Writer.WriteBoolean("active", FColorItems->Active());
        Writer.WriteBoolean("smooth", FColorItems->Smooth());
        if (FColorItems->Rotation() != 0)
            Writer.WriteInteger("rotation", FColorItems->Rotation());
        writeNodes(*FColorItems, true);
    }
    if (Flags & 2) {
        Writer.WriteSection("opacity");
        if (!(Flags & 1))
            writeHead();
        if (Flags & 4)
            Writer.WriteBoolean("active", FOpacityItems->Active());
        Writer.WriteBoolean("smooth", FOpacityItems->Smooth());
        if (FOpacityItems->Rotation() != 0)
            Writer.WriteInteger("rotation", FOpacityItems->Rotation());
        writeNodes(*FOpacityItems, false);
    }
    if ((Flags & (1 | 2 | 32)) == (1 | 2 | 32))
        FModified = false;
}

void TGradient::ReadParameters(TParReader &Reader, int Flags) {
    // A failing read puts the gradient back as it was, so that a broken text never leaves half a
    // gradient behind (nor an open update bracket).
    TParWriter saved;
    WriteParameters(saved, 71);
    saved.Finish();
    const std::string savedTitle = FTitle;
    const bool savedModified = FModified;
    const int savedUpdateCount = FUpdateCount;
    const int savedLastKind = FLastKind;

    BeginUpdate();
    try {
        bool linked = false, colorActive = true, opacityActive = false;
        FColorItems->SetLinked(nullptr);
        FLinked = false;
        FComments.clear();
        if (Flags & 1)
            Reader.ReadComments(FComments);

        // The next key of the gradient's sections. The header of any other section (and the end
        // of the text) is left unread, so that what follows the gradient (the next layer of a
        // document) is still there for the caller.
        auto isGradientSection = [](const std::string &name) {
            return name == "gradient" || name == "opacity" || name == "alpha";
        };
        auto nextKey = [&]() -> std::string {
            std::string section;
            if (Reader.PeekKey(&section).empty() && !isGradientSection(section))
                return std::string();
            return Reader.Next();
        };
        auto readPart = [&](TGradientItems &items, bool color, std::string &key) {
            items.ClearNodes();
            items.FRotation = 0;
            TGradientNode *current = nullptr;
            for (; !key.empty(); key = nextKey()) {
                if (key == "title") {
                    FTitle = Reader.GetValue();
                } else if (key == "comments") {
                    FComments = DecodeComments(Reader.GetValue());
                } else if (key == "linked" && color) {
                    linked = Reader.GetBoolean();
                } else if (key == "active") {
                    (color ? colorActive : opacityActive) = Reader.GetBoolean();
                } else if (key == "smooth") {
                    items.FSmooth = Reader.GetBoolean();
                } else if (key == "rotation" || key == "position") {
                    int value = Reader.GetInteger();
                    int r = color          ? WrapGradientRotation(value)
                            : value < -200 ? -200
                            : value > 199  ? 199
                                           : value;
                    int d = r - items.FRotation;
                    items.FRotation = r;
                    items.ShiftNodes(d);
                } else if (key == "index") {
                    int position = WrapGradientPosition(Reader.GetInteger());
                    current = nullptr;
                    for (int i = 0; i < items.GetCount() && !current; ++i)
                        if (items.GetNode(i)->Position() == position)
                            current = items.GetNode(i);
                    if (!current) {
                        std::unique_ptr<TGradientNode> node = items.CreateNode(position);
                        current = node.get();
                        items.AddNode(std::move(node));
                    }
                } else if ((color && key == "color") || (!color && (key == "opacity" || key == "alpha"))) {
                    if (!current)
                        Reader.RaiseError();
                    int value = Reader.GetInteger();
                    if (color)
                        static_cast<TGradientColorNode *>(current)->AssignColor(
                            static_cast<std::uint32_t>(value) & 0xFFFFFF);
                    else
                        static_cast<TGradientOpacityNode *>(current)->AssignOpacity(value);
                } else if (key == "selected") {
                    if (!current)
                        Reader.RaiseError();
                    current->FSelected = Reader.GetBoolean();
                }
            }
            if (items.GetCount() > 0 && items.GetSelectedCount() == 0)
                items.GetNode(0)->FSelected = true;
            items.NodeChanged(nullptr, gkGeneral, std::string());
        };

        bool colorRead = false, opacityRead = false;
        std::string key = Reader.Next();
        std::string section = "gradient";
        if (key.empty()) {
            section = Reader.GetSectionName();
            key = nextKey();
        }
        while (!section.empty()) {
            if (section == "gradient") {
                readPart(*FColorItems, true, key);
                colorRead = true;
                if (Flags & 8)
                    FOpacityItems->Reset();
            } else if (section == "opacity" || section == "alpha") {
                readPart(*FOpacityItems, false, key);
                opacityRead = true;
            } else {
                break;
            }
            section = Reader.GetSectionName();
            if (!isGradientSection(section))
                break;
            key = nextKey();
        }
        if (!colorRead && !opacityRead)
            Reader.RaiseError();

        FLinked = linked;
        if (linked)
            FColorItems->SetLinked(FOpacityItems.get());
        FColorItems->FActive = colorActive;
        FOpacityItems->FActive = opacityActive;
    } catch (...) {
        FUpdateCount = savedUpdateCount;
        FPendingLevel = 0;
        FPendingParts = FPendingRender = 0;
        FPendingColorNode = FPendingOpacityNode = nullptr;
        FPendingAllColor = FPendingAllOpacity = false;
        bool restoring = FRestoring;
        FRestoring = true;
        TParReader restore(saved.GetText().data(), saved.GetText().size());
        ReadParameters(restore, 0);
        FRestoring = restoring;
        FTitle = savedTitle;
        FModified = savedModified;
        FLastKind = static_cast<std::uint8_t>(savedLastKind);
        throw;
    }
    EndUpdate();
    if (Flags & 2) {
        FHistory->Clear();
        OnChange(this);
    }
    if (Flags & 4)
        FModified = false;
}

void TGradient::LoadFromMapFile(const std::string &FileName, bool Exact) {
    // 256 colour lines with names fit in far less; anything larger is not a palette.
    constexpr std::int64_t MaxPaletteFileSize = 1 << 20;
    TMemoryStream file;
    {
        TFileStream source(FileName, fmOpenRead | fmShareDenyWrite);
        if (source.Size() > MaxPaletteFileSize)
            throw EGradientPaletteError("Palette file \"%s\" is too large for a palette",
                                        ExtractFileName(FileName));
        file.LoadFromStream(source);
    }
    std::string text(static_cast<const char *>(file.Memory()), static_cast<std::size_t>(file.Size()));
    std::vector<std::string> lines = SplitLines(text);

    std::uint8_t palette[256 * 3];
    std::size_t next = 0;
    auto fail = [&](const std::string &what) {
        throw EGradientPaletteError("Palette file \"%s\" %s", ExtractFileName(FileName), what);
    };
    for (int colour = 0; colour < 256; ++colour) {
        while (next < lines.size() && Trim(lines[next]).empty())
            ++next;
        if (next >= lines.size())
            fail(Format("holds only %d of 256 colours", colour));
        const std::string line = TrimLeft(lines[next]);
        const int lineNumber = static_cast<int>(next) + 1;
        ++next;
        std::size_t at = 0;
        int values[3];
        for (int channel = 0; channel < 3; ++channel) {
            std::size_t start = at;
            while (at < line.size() && std::isdigit(static_cast<unsigned char>(line[at])) && at - start < 4)
                ++at;
            if (at == start)
                fail(Format("line %d is not a colour line", lineNumber));
            values[channel] = std::stoi(line.substr(start, at - start));
            if (values[channel] > 255 ||
                (at < line.size() && std::isdigit(static_cast<unsigned char>(line[at]))))
                fail(Format("line %d holds a value outside 0..255", lineNumber));
            if (channel < 2) {
                if (at >= line.size())
                    fail(Format("line %d is not a colour line", lineNumber));
                ++at; // the separator
                while (at < line.size() && (line[at] == ' ' || line[at] == '\t'))
                    ++at;
            }
        }
        palette[3 * colour] = static_cast<std::uint8_t>(values[2]);
        palette[3 * colour + 1] = static_cast<std::uint8_t>(values[1]);
        palette[3 * colour + 2] = static_cast<std::uint8_t>(values[0]);
    }

    BeginUpdate();
    SetLinked(false);
    FColorItems->LoadFromPalette(palette, Exact);
    FOpacityItems->Reset();
    FColorItems->SetActive(true);
    SetTitle(FileTitle(FileName));
    EndUpdate();
    FModified = false;
}

std::unique_ptr<TEntryWriter> ConvertMapFileToEntry(const std::string &FileName) {
    auto table = std::make_unique<TGradientTable>();
    TGradient gradient(*table);
    gradient.History().Recording = false;
    gradient.LoadFromMapFile(FileName);
    TParWriter writer;
    gradient.WriteParameters(writer, 17);
    writer.Finish();
    auto entries = std::make_unique<TEntryWriter>();
    const std::string title = FileTitle(FileName);
    entries->AppendEntry(writer.GetText(), TitleToName(title), title, false);
    return entries;
}
