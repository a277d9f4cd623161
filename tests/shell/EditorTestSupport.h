// An editor text held in a string, for testing the editing commands without a window. The text
// is written with '|' for the caret (and "[...]" never needed): Make("ab|c") puts the caret
// between b and c; lines are given with '\n' and held with CR, as the control holds them.
#pragma once

#include <string>

#include "EditorText.h"

class TEditorStringText : public TEditorText {
public:
    // Text with '\n' line breaks; the caret at the first '|' (removed), else at the end.
    static TEditorStringText Make(const std::string &Marked) {
        TEditorStringText t;
        std::string text;
        int caret = -1;
        for (char c : Marked) {
            if (c == '|' && caret < 0)
                caret = static_cast<int>(text.size());
            else
                text += c == '\n' ? '\r' : c;
        }
        t.FText = text;
        t.FStart = caret < 0 ? static_cast<int>(text.size()) : caret;
        return t;
    }
    std::string GetText() const override { return FText; }
    void GetSelection(int &Start, int &Length) const override {
        Start = FStart;
        Length = FLength;
    }
    void SetSelection(int Start, int Length) override {
        FStart = Start;
        FLength = Length;
    }
    void ReplaceSelection(const std::string &Text) override {
        FText.replace(static_cast<std::size_t>(FStart), static_cast<std::size_t>(FLength), Text);
        FStart += static_cast<int>(Text.size());
        FLength = 0;
        ++Replacements;
    }
    // The text with '\n' for line breaks and '|' at the caret (selection start).
    std::string Marked() const {
        std::string out = FText;
        out.insert(static_cast<std::size_t>(FStart), "|");
        for (char &c : out)
            if (c == '\r')
                c = '\n';
        return out;
    }
    std::string Selected() const {
        return FText.substr(static_cast<std::size_t>(FStart), static_cast<std::size_t>(FLength));
    }
    int Replacements = 0;

private:
    std::string FText;
    int FStart = 0, FLength = 0;
};
