// A gradient over a colour table of its own, and helpers that read nodes and text back.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CompPersistent.h"
#include "FracGradient.h"

struct TGradientFixture {
    std::unique_ptr<TGradientTable> Table = std::make_unique<TGradientTable>();
    std::unique_ptr<TGradient> Gradient = std::make_unique<TGradient>(*Table);

    TGradient &operator*() { return *Gradient; }
    TGradient *operator->() { return Gradient.get(); }
};

inline std::string GradientText(TGradient &Gradient, int Flags = 71) {
    TParWriter writer;
    Gradient.WriteParameters(writer, Flags);
    writer.Finish();
    return writer.GetText();
}

inline void ReadGradientText(TGradient &Gradient, const std::string &Text, int Flags = 0) {
    TParReader reader(Text.data(), Text.size());
    Gradient.ReadParameters(reader, Flags);
}

inline std::vector<int> NodePositions(const TGradientItems &Items) {
    std::vector<int> positions;
    for (int i = 0; i < Items.GetCount(); ++i)
        positions.push_back(Items.GetNode(i)->Position());
    return positions;
}

// Byte Channel (0 blue, 1 green, 2 red, 3 opacity) of table entry Index.
inline int TableByte(const TGradientTable &Table, int Index, int Channel) {
    return Table.GetByte(Index, Channel);
}
