#include "FracClipboard.h"

#include <windows.h>

#include <memory>

#include "AdvCtrls.h"
#include "Clipbrd.h"
#include "CompEntries.h"
#include "CompPersistent.h"

namespace {

std::unique_ptr<TClipboardManager> GlobalClipboardManager;

// The kind of parameter text whose first item is the section Name; cbText for other sections.
std::uint8_t SectionKind(const std::string &Name) {
    static constexpr struct {
        const char *Section;
        std::uint8_t Kind;
    } sections[] = {
        {"fractal", cbFractal},          {"gradient", cbGradient}, {"alpha", cbGradient},
        {"opacity", cbGradient},         {"layer", cbLayer},       {"location", cbLocation},
        {"transform", cbTransformation}, {"formula", cbFormula},   {"inside", cbColoring},
        {"outside", cbColoring},         {"files", cbFiles},
    };
    for (const auto &section : sections)
        if (Name == section.Section)
            return section.Kind;
    return cbText;
}

} // namespace

TClipboardManager::TClipboardManager() {
    SetClipboardHooks(MakeEvent<&TClipboardManager::ControlCopied>(this),
                      MakeEvent<&TClipboardManager::CanPaste>(this));
    UpdateContents();
}

TClipboardManager::~TClipboardManager() {
    SetClipboardHooks(TClipboardCopyHook(), TClipboardPasteHook());
}

void TClipboardManager::SetKind(std::uint8_t Kind, bool Always) {
    if (Kind == FKind && !Always)
        return;
    FKind = Kind;
    Notify();
}

void TClipboardManager::SetText(const std::string &Text, std::uint8_t Kind) {
    Clipboard().SetAsText(Text);
    SetKind(Kind, Kind == cbFiles);
}

std::string TClipboardManager::GetText() {
    if (!Clipboard().HasFormat(CF_TEXT))
        throw EClipboardError("Clipboard does not contain suitable data");
    return Clipboard().AsText();
}

void TClipboardManager::Clear() {
    Clipboard().Clear();
    SetKind(cbNothing);
}

std::uint8_t TClipboardManager::ClassifyText(const std::string &Text) {
    try {
        auto reader = TEntryStream::CreateFromString<TParReader>(Text);
        std::uint8_t kind = cbText;
        const std::string key = reader->Next();
        if (key.empty())
            kind = SectionKind(reader->GetSectionName());
        else if (key == "reset")
            kind = cbFractal;
        if (kind == cbText && TEntryReader::CreateFromString(Text, false)->GetCount() > 0)
            kind = cbEntries;
        return kind;
    } catch (const Exception &) {
    }
    std::int64_t value;
    if (TryStrToInt64(Text, value))
        return cbColor;
    return Text.find('/') != std::string::npos ? cbComplex : cbText;
}

void TClipboardManager::UpdateContents() {
    if (!Clipboard().HasFormat(CF_TEXT)) {
        SetKind(cbNothing);
        return;
    }
    std::string text;
    try {
        text = Clipboard().AsText();
    } catch (const EClipboardException &) {
        // Another program holds the clipboard: the kind stays until the next look.
        return;
    }
    SetKind(ClassifyText(text));
}

void TClipboardManager::ControlCopied(std::uint8_t Code) {
    switch (Code) {
    case ckComplex:
        SetKind(cbComplex);
        break;
    case ckColor:
        SetKind(cbColor);
        break;
    default:
        UpdateContents();
        break;
    }
}

void TClipboardManager::CanPaste(std::uint8_t Code, bool &Allowed) {
    switch (Code) {
    case ckPlainText:
        Allowed = FKind != cbNothing;
        break;
    case ckComplex:
        Allowed = FKind == cbComplex;
        break;
    case ckColor:
        Allowed = FKind == cbColor;
        break;
    default:
        break;
    }
}

TClipboardManager *ClipboardManager() {
    return GlobalClipboardManager.get();
}

void InitializeFracClipboard() {
    GlobalClipboardManager = std::make_unique<TClipboardManager>();
}

void FinalizeFracClipboard() {
    GlobalClipboardManager.reset();
}
