#include "FracGradient.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "CompEntries.h"
#include "GenColor.h"
#include "GenSetup.h"

namespace {

std::mt19937 &RandomSource() {
    static std::mt19937 source(std::random_device{}());
    return source;
}

// 0 .. Range - 1.
int RandomNumber(int Range) {
    return static_cast<int>(RandomSource()() % static_cast<unsigned>(Range));
}

int ClampInt(int V, int Lo, int Hi) {
    return V < Lo ? Lo : V > Hi ? Hi : V;
}

constexpr std::uint8_t ppColor = 1;
constexpr std::uint8_t ppOpacity = 2;

} // namespace

int WrapGradientPosition(int P) {
    int r = P % GradientPositions;
    return r < 0 ? r + GradientPositions : r;
}

int WrapGradientRotation(int R) {
    // In 64 bits so that extreme values read from text cannot overflow.
    std::int64_t r = (static_cast<std::int64_t>(R) + 200) % GradientPositions;
    if (r < 0)
        r += GradientPositions;
    return static_cast<int>(r) - 200;
}

// ---------------------------------------------------------------------------------------------
// Nodes

void TGradientNode::SetPosition(int P) {
    P = ClampInt(P, 0, GradientPositions - 1);
    if (P == FPosition)
        return;
    TGradient &gradient = Items.Gradient;
    gradient.BeginUpdate();
    int oldIndex = FIndex;
    int newIndex = Items.MoveNode(FIndex, P);
    TGradientItems *linked = Items.FLinked;
    if (linked && newIndex != oldIndex && oldIndex < linked->GetCount() && newIndex < linked->GetCount()) {
        linked->FNodes.Move(oldIndex, newIndex);
        linked->Reindex();
    }
    // A node that passed its neighbours changes segments on both sides: render the whole part.
    Items.NodeChanged(newIndex == oldIndex ? this : nullptr, gkNodeAdjust, "Adjust Node");
    gradient.EndUpdate();
}

void TGradientNode::SetSelected(bool Flag) {
    if (Flag == FSelected)
        return;
    FSelected = Flag;
    Items.LevelChanged();
}

void TGradientNode::ValueChanged() {
    Items.NodeChanged(this, gkNodeAdjust, "Adjust Node");
}

void TGradientColorNode::AssignColor(std::uint32_t Color) {
    FRed = Color & 0xFF;
    FGreen = (Color >> 8) & 0xFF;
    FBlue = (Color >> 16) & 0xFF;
    std::uint32_t hsl = RGBToHSL(GetColor());
    FHue = PackedHue(hsl);
    FSaturation = PackedSaturation(hsl);
    FLuminance = PackedLightness(hsl);
}

void TGradientColorNode::SetRGB(int R, int G, int B) {
    R = ClampInt(R, 0, 255);
    G = ClampInt(G, 0, 255);
    B = ClampInt(B, 0, 255);
    if (R == FRed && G == FGreen && B == FBlue)
        return;
    AssignColor(static_cast<std::uint32_t>(R | (G << 8) | (B << 16)));
    ValueChanged();
}

void TGradientColorNode::SetHSL(int H, int S, int L) {
    H = ClampInt(H, 0, 359);
    S = ClampInt(S, 0, 255);
    L = ClampInt(L, 0, 255);
    if (H == FHue && S == FSaturation && L == FLuminance)
        return;
    // The hue, saturation and luminance stay as set; red, green and blue follow them.
    FHue = H;
    FSaturation = S;
    FLuminance = L;
    std::uint32_t color = HSLToRGB(MakePackedHSL(H, S, L));
    FRed = color & 0xFF;
    FGreen = (color >> 8) & 0xFF;
    FBlue = (color >> 16) & 0xFF;
    ValueChanged();
}

void TGradientColorNode::SetColor(std::uint32_t Color) {
    SetRGB(Color & 0xFF, (Color >> 8) & 0xFF, (Color >> 16) & 0xFF);
}
void TGradientColorNode::SetRed(int V) {
    SetRGB(V, FGreen, FBlue);
}
void TGradientColorNode::SetGreen(int V) {
    SetRGB(FRed, V, FBlue);
}
void TGradientColorNode::SetBlue(int V) {
    SetRGB(FRed, FGreen, V);
}
void TGradientColorNode::SetHue(int V) {
    SetHSL(V, FSaturation, FLuminance);
}
void TGradientColorNode::SetSaturation(int V) {
    SetHSL(FHue, V, FLuminance);
}
void TGradientColorNode::SetLuminance(int V) {
    SetHSL(FHue, FSaturation, V);
}

void TGradientColorNode::Invert() {
    AssignColor(static_cast<std::uint32_t>((255 - FRed) | ((255 - FGreen) << 8) | ((255 - FBlue) << 16)));
}

void TGradientColorNode::Randomize() {
    AssignColor(
        static_cast<std::uint32_t>(RandomNumber(256) | (RandomNumber(256) << 8) | (RandomNumber(256) << 16)));
}

void TGradientOpacityNode::SetOpacity(int V) {
    V = ClampInt(V, 0, 255);
    if (V == FOpacity)
        return;
    FOpacity = V;
    ValueChanged();
}

void TGradientOpacityNode::Invert() {
    FOpacity = 255 - FOpacity;
}

void TGradientOpacityNode::Randomize() {
    FOpacity = RandomNumber(256);
}

// ---------------------------------------------------------------------------------------------
// Parts: node list

void TGradientItems::Reindex() {
    for (int i = 0; i < FNodes.Count(); ++i)
        FNodes.Items(i)->FIndex = i;
}

int TGradientItems::AddNode(std::unique_ptr<TGradientNode> Node) {
    int index = 0;
    while (index < FNodes.Count() && FNodes.Items(index)->FPosition <= Node->FPosition)
        ++index;
    FNodes.Insert(index, std::move(Node));
    Reindex();
    return index;
}

void TGradientItems::ClearNodes() {
    FNodes.Clear();
}

int TGradientItems::MoveNode(int Index, int P) {
    TGradientNode *node = FNodes.Items(Index);
    auto occupied = [&](int position) {
        for (int i = 0; i < FNodes.Count(); ++i)
            if (i != Index && FNodes.Items(i)->FPosition == position)
                return true;
        return false;
    };
    // Landing on a neighbour stops one step short of it; the old place of the node is always free,
    // so the search ends before it is passed.
    int step = P > node->FPosition ? -1 : 1;
    while (occupied(P))
        P += step;
    node->FPosition = P;
    std::unique_ptr<TGradientNode> moved = FNodes.ExtractAt(Index);
    return AddNode(std::move(moved));
}

void TGradientItems::ShiftNodes(int D) {
    for (int i = 0; i < FNodes.Count(); ++i)
        FNodes.Items(i)->FPosition += D;
    while (FNodes.Count() > 0 && FNodes.First()->FPosition < 0) {
        std::unique_ptr<TGradientNode> node = FNodes.ExtractAt(0);
        node->FPosition += GradientPositions;
        FNodes.Add(std::move(node));
    }
    while (FNodes.Count() > 0 && FNodes.Last()->FPosition >= GradientPositions) {
        std::unique_ptr<TGradientNode> node = FNodes.ExtractAt(FNodes.Count() - 1);
        node->FPosition -= GradientPositions;
        FNodes.Insert(0, std::move(node));
    }
    Reindex();
}

void TGradientItems::NodeChanged(TGradientNode *Node, std::uint8_t Kind, const std::string &Caption) {
    Gradient.PartChanged(*this, Node, Kind, Caption);
}

void TGradientItems::LevelChanged() {
    Gradient.LevelChanged(*this);
}

void TGradientItems::SyncWith(TGradientItems &Source) {
    ++FBusy;
    int i = 0;
    while (i < Source.GetCount()) {
        int position = Source.GetNode(i)->FPosition;
        if (i >= FNodes.Count()) {
            FNodes.Add(CreateNode(position));
        } else {
            TGradientNode *node = FNodes.Items(i);
            if (node->FPosition != position) {
                if (FNodes.Count() > Source.GetCount() && node->FPosition < position) {
                    FNodes.Delete(i); // the source lost this node
                    continue;
                }
                if (FNodes.Count() < Source.GetCount() && node->FPosition > position)
                    FNodes.Insert(i, CreateNode(position)); // the source gained a node here
                else
                    node->FPosition = position; // the source moved it
            }
        }
        FNodes.Items(i)->FPosition = position;
        FNodes.Items(i)->FSelected = Source.GetNode(i)->FSelected;
        ++i;
    }
    while (FNodes.Count() > Source.GetCount())
        FNodes.Delete(FNodes.Count() - 1);
    Reindex();
    FRotation = Source.FRotation;
    FSmooth = Source.FSmooth;
    --FBusy;
}

int TGradientItems::GetSelectedCount() const {
    int count = 0;
    for (int i = 0; i < FNodes.Count(); ++i)
        if (FNodes.Items(i)->FSelected)
            ++count;
    return count;
}

int TGradientItems::GetSelectedPosition() const {
    int result = -2;
    for (int i = 0; i < FNodes.Count(); ++i)
        if (FNodes.Items(i)->FSelected) {
            if (result != -2)
                return -1;
            result = FNodes.Items(i)->FPosition;
        }
    return result;
}

void TGradientItems::SetSelectedPosition(int Position) {
    if (GetSelectedCount() != 1)
        return;
    for (int i = 0; i < FNodes.Count(); ++i)
        if (FNodes.Items(i)->FSelected) {
            FNodes.Items(i)->SetPosition(Position);
            return;
        }
}

// ---------------------------------------------------------------------------------------------
// Parts: operations

int TGradientItems::InsertAt(int Position) {
    Position = ClampInt(Position, 0, GradientPositions - 1);
    for (int i = 0; i < FNodes.Count(); ++i)
        if (FNodes.Items(i)->FPosition == Position)
            return i;
    Gradient.BeginUpdate();
    std::unique_ptr<TGradientNode> node = CreateNode(Position);
    TGradientNode *created = node.get();
    AddNode(std::move(node));
    NodeChanged(created, gkGeneral, "Insert");
    Gradient.EndUpdate();
    return created->FIndex;
}

void TGradientItems::Delete(int Index) {
    if (Index < 0 || Index >= FNodes.Count())
        return;
    Gradient.BeginUpdate();
    FNodes.Delete(Index);
    Reindex();
    NodeChanged(nullptr, gkGeneral, "Delete");
    Gradient.EndUpdate();
}

void TGradientItems::DeleteSelected() {
    Gradient.BeginUpdate();
    for (int i = FNodes.Count() - 1; i >= 0; --i)
        if (FNodes.Items(i)->FSelected)
            Delete(i);
    Gradient.EndUpdate();
}

void TGradientItems::Clear() {
    Gradient.BeginUpdate();
    ClearNodes();
    NodeChanged(nullptr, gkGeneral, "Clear");
    Gradient.EndUpdate();
}

void TGradientItems::Invert() {
    Gradient.BeginUpdate();
    for (int i = 0; i < FNodes.Count(); ++i)
        FNodes.Items(i)->Invert();
    if (FLinked && FBusy == 0) {
        ++FBusy;
        FLinked->Invert();
        --FBusy;
    }
    NodeChanged(nullptr, gkGeneral, "Invert");
    Gradient.EndUpdate();
}

void TGradientItems::Reverse() {
    Gradient.BeginUpdate();
    for (int i = 0, j = FNodes.Count() - 1; i < j; ++i, --j)
        FNodes.Exchange(i, j);
    for (int i = 0; i < FNodes.Count(); ++i)
        FNodes.Items(i)->FPosition = GradientPositions - 1 - FNodes.Items(i)->FPosition;
    Reindex();
    if (FLinked && FBusy == 0) {
        ++FBusy;
        FLinked->Reverse();
        --FBusy;
    }
    NodeChanged(nullptr, gkGeneral, "Reverse");
    Gradient.EndUpdate();
}

void TGradientItems::SetRotation(int R) {
    R = ClampInt(R, -200, 199);
    int d = R - FRotation;
    if (d == 0)
        return;
    Gradient.BeginUpdate();
    FRotation = R;
    ShiftNodes(d);
    if (FLinked && FBusy == 0) {
        ++FBusy;
        FLinked->SetRotation(R);
        --FBusy;
    }
    NodeChanged(nullptr, gkRotation, "Rotate");
    Gradient.EndUpdate();
}

void TGradientItems::Randomize() {
    Gradient.BeginUpdate();
    ClearNodes();
    FRotation = 0;
    for (int position = RandomNumber(40); position < GradientPositions; position += 40 + RandomNumber(150)) {
        std::unique_ptr<TGradientNode> node = CreateNode(position);
        node->Randomize();
        AddNode(std::move(node));
    }
    if (FNodes.Count() > 0)
        FNodes.First()->FSelected = true;
    if (FLinked && FBusy == 0) {
        TGradientItems &other = *FLinked;
        other.ClearNodes();
        other.FRotation = 0;
        for (int i = 0; i < FNodes.Count(); ++i) {
            std::unique_ptr<TGradientNode> node = other.CreateNode(FNodes.Items(i)->FPosition);
            node->Randomize();
            node->FSelected = FNodes.Items(i)->FSelected;
            other.AddNode(std::move(node));
        }
    }
    NodeChanged(nullptr, gkGeneral, "Randomize");
    Gradient.EndUpdate();
}

void TGradientItems::SetSmooth(bool Flag) {
    if (Flag == FSmooth)
        return;
    Gradient.BeginUpdate();
    FSmooth = Flag;
    NodeChanged(nullptr, gkGeneral, Flag ? "Smooth Curves" : "Linear Curves");
    Gradient.EndUpdate();
}

void TGradientItems::SetActive(bool Flag) {
    if (Flag == FActive)
        return;
    FActive = Flag;
    LevelChanged();
}

void TGradientItems::SetLinked(TGradientItems *Items) {
    if (Items == FLinked)
        return;
    if (FLinked)
        FLinked->FLinked = nullptr;
    FLinked = Items;
    if (Items) {
        if (Items->FLinked && Items->FLinked != this)
            Items->FLinked->FLinked = nullptr;
        Items->FLinked = this;
    }
}

void TGradientItems::SelectAll() {
    for (int i = 0; i < FNodes.Count(); ++i)
        FNodes.Items(i)->FSelected = true;
    LevelChanged();
}

void TGradientItems::SelectNone() {
    for (int i = 0; i < FNodes.Count(); ++i)
        FNodes.Items(i)->FSelected = false;
    LevelChanged();
}

void TGradientItems::InvertSelection() {
    for (int i = 0; i < FNodes.Count(); ++i)
        FNodes.Items(i)->FSelected = !FNodes.Items(i)->FSelected;
    LevelChanged();
}

void TGradientItems::SelectNext() {
    int count = FNodes.Count();
    if (count == 0)
        return;
    int last = -1;
    for (int i = 0; i < count; ++i)
        if (FNodes.Items(i)->FSelected)
            last = i;
    int target = last < 0 || last == count - 1 ? 0 : last + 1;
    for (int i = 0; i < count; ++i)
        FNodes.Items(i)->FSelected = i == target;
    LevelChanged();
}

void TGradientItems::SelectPrevious() {
    int count = FNodes.Count();
    if (count == 0)
        return;
    int first = -1;
    for (int i = count - 1; i >= 0; --i)
        if (FNodes.Items(i)->FSelected)
            first = i;
    int target = first <= 0 ? count - 1 : first - 1;
    for (int i = 0; i < count; ++i)
        FNodes.Items(i)->FSelected = i == target;
    LevelChanged();
}

// ---------------------------------------------------------------------------------------------
// Rendering

void TGradientItems::RenderAll() {
    if (FNodes.Count() == 0) {
        ClearTable();
        return;
    }
    for (int i = 0; i < FNodes.Count(); ++i)
        RenderSegment(i);
}

void TGradientItems::RenderAround(int Index) {
    int count = FNodes.Count();
    if (count == 0) {
        ClearTable();
        return;
    }
    if (Index < 0 || Index >= count || (FSmooth && count < 4)) {
        RenderAll();
        return;
    }
    auto wrap = [count](int i) { return ((i % count) + count) % count; };
    if (FSmooth) {
        for (int i = Index - 2; i <= Index + 1; ++i)
            RenderSegment(wrap(i));
    } else {
        if (count > 1)
            RenderSegment(wrap(Index - 1));
        RenderSegment(Index);
    }
}

void TGradientItems::RenderSegment(int Index) {
    if (FSmooth)
        RenderSmoothSegment(Index);
    else
        RenderLinearSegment(Index);
}

void TGradientItems::RenderLinearSegment(int Index) {
    int count = FNodes.Count();
    TGradientNode *from = FNodes.Items(Index);
    TGradientNode *to = FNodes.Items((Index + 1) % count);
    int start = GradientStepsPerPosition * from->FPosition;
    int length = GradientStepsPerPosition * to->FPosition - start;
    if (length <= 0)
        length += GradientCodeCount;
    // Each entry belongs to exactly one segment: the end entry is the next segment's first, so a
    // partial render leaves the same table as a full one.
    TGradientTable &table = Gradient.Table();
    for (int channel = 0; channel < ChannelCount(); ++channel) {
        int byte = ChannelByte(channel);
        std::int32_t v0 = from->GetChannel(channel), v1 = to->GetChannel(channel);
        std::int32_t step = ((v1 - v0) * 65536) / length;
        std::int32_t value = v0 * 65536;
        int entry = start;
        for (int k = 0; k < length; ++k) {
            *table.Byte(entry, byte) = static_cast<std::uint8_t>(value >> 16);
            value += step;
            if (++entry == GradientCodeCount)
                entry = 0;
        }
    }
}

void TGradientItems::GetSmoothCurve(int Index, int Channel, int &A, int &B, int &C, int &D,
                                    int &Width) const {
    int count = FNodes.Count();
    const TGradientNode *p0 = FNodes.Items((Index - 1 + count) % count);
    const TGradientNode *p1 = FNodes.Items(Index);
    const TGradientNode *p2 = FNodes.Items((Index + 1) % count);
    const TGradientNode *p3 = FNodes.Items((Index + 2) % count);
    int x1 = p1->FPosition;
    int x0 = p0->FPosition;
    if (x0 >= x1)
        x0 -= GradientPositions;
    int x2 = p2->FPosition;
    if (x2 <= x1)
        x2 += GradientPositions;
    int x3 = p3->FPosition;
    while (x3 <= x2)
        x3 += GradientPositions;
    int w = x2 - x1, l = x1 - x0, r = x3 - x2;
    int y0 = p0->GetChannel(Channel), y1 = p1->GetChannel(Channel);
    int y2 = p2->GetChannel(Channel), y3 = p3->GetChannel(Channel);
    // Control values: flat at a local extremum, otherwise along the slope of the neighbour side,
    // limited so that they stay between y1 and y2 (no overshoot).
    int c1, c2;
    if ((y0 <= y1 && y1 >= y2) || (y0 >= y1 && y1 <= y2)) {
        c1 = y1;
    } else {
        int s = (y1 - y0) * w / l;
        c1 = y1 + s * (y2 - y1) / (s + y2 - y1);
    }
    if ((y2 >= y1 && y2 >= y3) || (y2 <= y1 && y2 <= y3)) {
        c2 = y2;
    } else {
        int u = (y3 - y2) * w / r;
        c2 = y2 - u * (y2 - y1) / (u + y2 - y1);
    }
    A = 3 * c1 - y1 - 3 * c2 + y2;
    B = 3 * (y1 - 2 * c1 + c2);
    C = 3 * (c1 - y1);
    D = y1;
    Width = w;
}

void TGradientItems::RenderSmoothSegment(int Index) {
    TGradientTable &table = Gradient.Table();
    int start = GradientStepsPerPosition * FNodes.Items(Index)->FPosition;
    auto round = [](float v) { return ClampInt(static_cast<int>(std::floor(v + 0.5f)), 0, 255); };
    for (int channel = 0; channel < ChannelCount(); ++channel) {
        int ia, ib, ic, id, w;
        GetSmoothCurve(Index, channel, ia, ib, ic, id, w);
        float a = static_cast<float>(ia), b = static_cast<float>(ib), c = static_cast<float>(ic),
              d = static_cast<float>(id);
        int byte = ChannelByte(channel);
        int m = 64 * w;
        int entry = start;
        int previous = round(d);
        *table.Byte(entry, byte) = static_cast<std::uint8_t>(previous);
        for (int k = 1; k <= m; ++k) {
            float t = static_cast<float>(k - 1) / static_cast<float>(m - 1);
            int value = round(((a * t + b) * t + c) * t + d);
            if (++entry == GradientCodeCount)
                entry = 0;
            *table.Byte(entry, byte) = static_cast<std::uint8_t>((previous + value) / 2);
            if (++entry == GradientCodeCount)
                entry = 0;
            *table.Byte(entry, byte) = static_cast<std::uint8_t>(value);
            previous = value;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Colour part

std::unique_ptr<TGradientNode> TGradientColorItems::CreateNode(int Position) {
    auto node = std::make_unique<TGradientColorNode>(*this);
    node->FPosition = ClampInt(Position, 0, GradientPositions - 1);
    std::uint32_t entry = Gradient.Table()[GradientStepsPerPosition * node->FPosition];
    // Table bytes blue, green, red into red + green * 256 + blue * 65536.
    node->AssignColor(((entry >> 16) & 0xFF) | (entry & 0xFF00) | ((entry & 0xFF) << 16));
    return node;
}

void TGradientColorItems::ClearTable() {
    TGradientTable &table = Gradient.Table();
    for (int i = 0; i < GradientCodeCount; ++i)
        table[i] &= 0xFF000000u;
}

void TGradientColorItems::Reset() {
    static const struct {
        int Position;
        std::uint32_t Color;
    } defaults[] = {{0, 0x850000}, {100, 0xF5FFFF}, {200, 0x00B5FF}, {300, 0x00009C}};
    Gradient.BeginUpdate();
    ClearNodes();
    FRotation = 0;
    for (const auto &item : defaults) {
        auto node = std::make_unique<TGradientColorNode>(*this);
        node->FPosition = item.Position;
        node->AssignColor(item.Color);
        AddNode(std::move(node));
    }
    FNodes.First()->FSelected = true;
    FSmooth = true;
    NodeChanged(nullptr, gkGeneral, std::string());
    Gradient.EndUpdate();
}

template <class Get> int TGradientColorItems::SelectedValue(Get get) const {
    int result = -2;
    for (int i = 0; i < GetCount(); ++i) {
        const TGradientColorNode *node = GetColorNode(i);
        if (!node->Selected())
            continue;
        int value = get(*node);
        if (result == -2)
            result = value;
        else if (result != value)
            return -1;
    }
    return result;
}

template <class Set> void TGradientColorItems::SetSelectedValue(Set set) {
    Gradient.BeginUpdate();
    for (int i = 0; i < GetCount(); ++i)
        if (GetNode(i)->Selected())
            set(*GetColorNode(i));
    Gradient.EndUpdate();
}

int TGradientColorItems::GetSelectedColor() const {
    return SelectedValue([](const TGradientColorNode &n) { return static_cast<int>(n.GetColor()); });
}
int TGradientColorItems::GetSelectedRed() const {
    return SelectedValue([](const TGradientColorNode &n) { return n.Red(); });
}
int TGradientColorItems::GetSelectedGreen() const {
    return SelectedValue([](const TGradientColorNode &n) { return n.Green(); });
}
int TGradientColorItems::GetSelectedBlue() const {
    return SelectedValue([](const TGradientColorNode &n) { return n.Blue(); });
}
int TGradientColorItems::GetSelectedHue() const {
    return SelectedValue([](const TGradientColorNode &n) { return n.Hue(); });
}
int TGradientColorItems::GetSelectedSaturation() const {
    return SelectedValue([](const TGradientColorNode &n) { return n.Saturation(); });
}
int TGradientColorItems::GetSelectedLuminance() const {
    return SelectedValue([](const TGradientColorNode &n) { return n.Luminance(); });
}
void TGradientColorItems::SetSelectedColor(int V) {
    SetSelectedValue([V](TGradientColorNode &n) { n.SetColor(static_cast<std::uint32_t>(V)); });
}
void TGradientColorItems::SetSelectedRed(int V) {
    SetSelectedValue([V](TGradientColorNode &n) { n.SetRed(V); });
}
void TGradientColorItems::SetSelectedGreen(int V) {
    SetSelectedValue([V](TGradientColorNode &n) { n.SetGreen(V); });
}
void TGradientColorItems::SetSelectedBlue(int V) {
    SetSelectedValue([V](TGradientColorNode &n) { n.SetBlue(V); });
}
void TGradientColorItems::SetSelectedHue(int V) {
    SetSelectedValue([V](TGradientColorNode &n) { n.SetHue(V); });
}
void TGradientColorItems::SetSelectedSaturation(int V) {
    SetSelectedValue([V](TGradientColorNode &n) { n.SetSaturation(V); });
}
void TGradientColorItems::SetSelectedLuminance(int V) {
    SetSelectedValue([V](TGradientColorNode &n) { n.SetLuminance(V); });
}

void TGradientColorItems::RandomizeMisty() {
    Gradient.BeginUpdate();
    Randomize();
    for (int i = 0; i < GetCount(); ++i) {
        int channel[3];
        for (int &c : channel)
            c = i % 2 == 1 ? 192 + RandomNumber(64) : RandomNumber(128);
        GetColorNode(i)->AssignColor(
            static_cast<std::uint32_t>(channel[0] | (channel[1] << 8) | (channel[2] << 16)));
    }
    NodeChanged(nullptr, gkGeneral, "Randomize");
    Gradient.EndUpdate();
}

void TGradientColorItems::RandomizeBright() {
    Gradient.BeginUpdate();
    Randomize();
    for (int i = 0; i < GetCount(); ++i) {
        int channel[3];
        for (int &c : channel)
            c = i % 2 == 1 ? 192 + RandomNumber(64) : RandomNumber(128);
        channel[RandomNumber(3)] = RandomNumber(64);
        if (RandomNumber(2) == 0)
            channel[RandomNumber(3)] = RandomNumber(64);
        GetColorNode(i)->AssignColor(
            static_cast<std::uint32_t>(channel[0] | (channel[1] << 8) | (channel[2] << 16)));
    }
    NodeChanged(nullptr, gkGeneral, "Randomize");
    Gradient.EndUpdate();
}

void TGradientColorItems::LoadFromPalette(const std::uint8_t *Palette, bool Exact) {
    // Channel value of colour k: the palette holds blue, green, red.
    auto value = [Palette](int k, int channel) { return static_cast<double>(Palette[3 * k + channel]); };
    Gradient.BeginUpdate();
    ClearNodes();
    FRotation = 0;
    auto addNode = [this, Palette](int position, int k) {
        auto node = std::make_unique<TGradientColorNode>(*this);
        node->FPosition = position;
        node->AssignColor(static_cast<std::uint32_t>(Palette[3 * k + 2] | (Palette[3 * k + 1] << 8) |
                                                     (Palette[3 * k] << 16)));
        AddNode(std::move(node));
    };
    // A cone of slopes from the anchor that keeps every colour so far within 4 of the line.
    // Exact lets no colour into the cone: each one ends a node at (k - 1) * 399 div 255, colour 0
    // included.
    if (!Exact)
        addNode(0, 0);
    int anchor = 0;
    double lo[3], hi[3];
    auto restart = [&](int next) {
        for (int c = 0; c < 3; ++c) {
            lo[c] = (value(next, c) - 4 - value(anchor, c)) / (next - anchor);
            hi[c] = (value(next, c) + 4 - value(anchor, c)) / (next - anchor);
        }
    };
    restart(1);
    for (int i = 1; i < 256; ++i) {
        bool inside = !Exact;
        for (int c = 0; c < 3 && inside; ++c) {
            double slope = (value(i, c) - value(anchor, c)) / (i - anchor);
            inside = slope >= lo[c] && slope <= hi[c];
        }
        if (inside) {
            for (int c = 0; c < 3; ++c) {
                lo[c] = std::max(lo[c], (value(i, c) - 4 - value(anchor, c)) / (i - anchor));
                hi[c] = std::min(hi[c], (value(i, c) + 4 - value(anchor, c)) / (i - anchor));
            }
        } else {
            addNode((i - 1) * 399 / 255, i - 1);
            anchor = i - 1;
            restart(i);
        }
    }
    addNode(399, 255);
    for (int i = 0; i < GetCount(); ++i)
        GetNode(i)->FSelected = i == 0;
    FSmooth = false;
    NodeChanged(nullptr, gkGeneral, std::string());
    Gradient.EndUpdate();
}

// ---------------------------------------------------------------------------------------------
// Opacity part

std::unique_ptr<TGradientNode> TGradientOpacityItems::CreateNode(int Position) {
    auto node = std::make_unique<TGradientOpacityNode>(*this);
    node->FPosition = ClampInt(Position, 0, GradientPositions - 1);
    node->AssignOpacity(Gradient.Table().GetByte(GradientStepsPerPosition * node->FPosition, 3));
    return node;
}

void TGradientOpacityItems::ClearTable() {
    TGradientTable &table = Gradient.Table();
    for (int i = 0; i < GradientCodeCount; ++i)
        table[i] |= 0xFF000000u;
}

void TGradientOpacityItems::Reset() {
    Gradient.BeginUpdate();
    ClearNodes();
    FRotation = 0;
    auto node = std::make_unique<TGradientOpacityNode>(*this);
    node->FSelected = true;
    AddNode(std::move(node));
    NodeChanged(nullptr, gkGeneral, std::string());
    Gradient.EndUpdate();
}

int TGradientOpacityItems::GetSelectedOpacity() const {
    int result = -2;
    for (int i = 0; i < GetCount(); ++i) {
        if (!GetNode(i)->Selected())
            continue;
        int value = GetOpacityNode(i)->Opacity();
        if (result == -2)
            result = value;
        else if (result != value)
            return -1;
    }
    return result;
}

void TGradientOpacityItems::SetSelectedOpacity(int V) {
    Gradient.BeginUpdate();
    for (int i = 0; i < GetCount(); ++i)
        if (GetNode(i)->Selected())
            GetOpacityNode(i)->SetOpacity(V);
    Gradient.EndUpdate();
}

// ---------------------------------------------------------------------------------------------
// Gradient

TGradient::TGradient(TGradientTable &ATable) : FTable(ATable) {
    FColorItems = std::make_unique<TGradientColorItems>(*this);
    FOpacityItems = std::make_unique<TGradientOpacityItems>(*this);
    FHistory = std::make_unique<THistoryList>(64, false);
    FHistory->OnChange = MakeNotifyEvent<&TGradient::HistoryChanged>(this);
    LoadDefault();
    FColorItems->FActive = true;
    FOpacityItems->FActive = false;
    FModified = false;
    // The first undo step holds the gradient as it starts, active flags included.
    if (FHistory->GetCount() > 0) {
        TParWriter writer;
        SaveToWriter(writer);
        writer.Finish();
        FHistory->GetCurrent()->State = writer.GetText();
    }
}

TGradient::~TGradient() {
    OnDestroy(this);
    FBusy = true;
    FHistory.reset();
    FOpacityItems.reset();
    FColorItems.reset();
}

void TGradient::BeginUpdate() {
    ++FUpdateCount;
}

void TGradient::EndUpdateCaption(const std::string &Caption) {
    if (FUpdateCount > 0)
        --FUpdateCount;
    if (!Caption.empty())
        FPendingCaption = Caption;
    CommitWhenIdle();
}

void TGradient::CommitWhenIdle() {
    if (FUpdateCount == 0 && !FBusy)
        Commit();
}

void TGradient::BringActiveInStep(TGradientItems &Changed) {
    if (FBusy)
        return;
    TGradientItems &other = &Changed == FColorItems.get() ? static_cast<TGradientItems &>(*FOpacityItems)
                                                          : static_cast<TGradientItems &>(*FColorItems);
    FBusy = true;
    other.FActive = FLinked;
    FBusy = false;
}

void TGradient::MarkPart(TGradientItems &Items) {
    FPendingParts |= &Items == FColorItems.get() ? ppColor : ppOpacity;
}

void TGradient::PartChanged(TGradientItems &Items, TGradientNode *Node, std::uint8_t Kind,
                            const std::string &Caption) {
    bool isColor = &Items == FColorItems.get();
    TGradientItems *linked = Items.FLinked;
    bool syncLinked = linked && Items.FBusy == 0 && linked->FBusy == 0;
    if (syncLinked)
        linked->SyncWith(Items);
    auto pend = [this](bool color, TGradientNode *node, bool first) {
        TGradientNode *&pending = color ? FPendingColorNode : FPendingOpacityNode;
        bool &all = color ? FPendingAllColor : FPendingAllOpacity;
        bool marked = (FPendingRender & (color ? ppColor : ppOpacity)) != 0;
        if (!marked || first) {
            pending = node;
            all = node == nullptr;
        } else if (pending != node) {
            pending = nullptr;
            all = true;
        }
        FPendingRender |= color ? ppColor : ppOpacity;
    };
    bool first = FPendingLevel != 2;
    if (first) {
        FPendingLevel = 2;
        FPendingKind = Kind;
        FPendingRender = 0;
    } else if (FPendingKind != Kind) {
        FPendingKind = gkGeneral;
    }
    if (Kind != gkComments || Node)
        pend(isColor, Node, first);
    if (syncLinked) {
        pend(!isColor, nullptr, false);
        FPendingParts |= isColor ? ppOpacity : ppColor;
    }
    FPendingCaption = Caption;
    MarkPart(Items);
    BringActiveInStep(Items);
    CommitWhenIdle();
}

void TGradient::LevelChanged(TGradientItems &Items) {
    if (Items.FLinked && Items.FBusy == 0 && Items.FLinked->FBusy == 0)
        Items.FLinked->SyncWith(Items);
    if (FPendingLevel == 0)
        FPendingLevel = 1;
    MarkPart(Items);
    CommitWhenIdle();
}

void TGradient::Commit() {
    if (FPendingLevel == 0)
        return;
    std::uint8_t level = FPendingLevel;
    bool recorded = false;
    if (FHistory->Recording && !FRestoring) {
        TParWriter writer;
        SaveToWriter(writer);
        writer.Finish();
        std::string state = writer.GetText();
        if (FHistory->GetCount() > 0 && (level == 1 || FPendingKind != gkGeneral) &&
            FPendingKind == FLastKind)
            FHistory->GetCurrent()->State = state;
        else
            FHistory->Add(FPendingCaption, state);
        recorded = true;
    }
    std::uint8_t parts = FPendingParts;
    std::uint8_t render = FPendingRender;
    TGradientNode *colorNode = FPendingAllColor ? nullptr : FPendingColorNode;
    TGradientNode *opacityNode = FPendingAllOpacity ? nullptr : FPendingOpacityNode;
    std::uint8_t kind = FPendingKind;
    FPendingLevel = 0;
    FPendingParts = 0;
    FPendingRender = 0;
    FPendingColorNode = FPendingOpacityNode = nullptr;
    FPendingAllColor = FPendingAllOpacity = false;
    // The pending kind stays: a later selection or title change then updates the current undo
    // step instead of adding one.
    if (level == 2) {
        if (render & ppColor)
            FColorItems->RenderAround(colorNode ? colorNode->Index() : -1);
        if (render & ppOpacity)
            FOpacityItems->RenderAround(opacityNode ? opacityNode->Index() : -1);
        int flags = (render ? 1 : 0) | (recorded ? 2 : 0);
        if (flags)
            OnTableChange(this, flags);
        if (parts & ppOpacity) {
            bool transparent = false;
            for (int i = 0; i < FOpacityItems->GetCount(); ++i)
                if (FOpacityItems->GetOpacityNode(i)->Opacity() < 255)
                    transparent = true;
            if (transparent != FHasTransparency) {
                FHasTransparency = transparent;
                OnTransparencyChange(this);
            }
        }
        FLastKind = kind;
        FModified = true;
    }
    OnChange(this);
}

void TGradient::HistoryChanged(TObject *) {
    THistoryItem *item = FHistory->GetCurrent();
    TParReader reader(item->State.data(), item->State.size());
    FRestoring = true;
    try {
        LoadFromReader(reader);
    } catch (...) {
        FRestoring = false;
        throw;
    }
    FRestoring = false;
}

void TGradient::BeginAdjust() {
    if (FAdjustCount == 0) {
        FHistory->Recording = false;
        SaveNodeValues();
    }
    ++FAdjustCount;
}

void TGradient::EndAdjust(int Mode, const std::string &Caption) {
    if (FAdjustCount == 0)
        return;
    if (--FAdjustCount > 0)
        return;
    if (Mode == 0) {
        FHistory->Recording = true;
        BeginUpdate();
        PartChanged(*FColorItems, nullptr, gkGeneral, Caption);
        PartChanged(*FOpacityItems, nullptr, gkGeneral, Caption);
        EndUpdate();
    } else if (Mode == 1) {
        RestoreNodeValues();
        FHistory->Recording = true;
    } else {
        FHistory->Recording = true;
    }
}

void TGradient::CancelAdjust() {
    if (FAdjustCount > 0)
        RestoreNodeValues();
}

void TGradient::SaveNodeValues() {
    for (TGradientItems *items : {static_cast<TGradientItems *>(FColorItems.get()),
                                  static_cast<TGradientItems *>(FOpacityItems.get())})
        for (int i = 0; i < items->GetCount(); ++i)
            items->GetNode(i)->SavedValue = items->GetNode(i)->GetValue();
}

void TGradient::RestoreNodeValues() {
    BeginUpdate();
    for (TGradientItems *items : {static_cast<TGradientItems *>(FColorItems.get()),
                                  static_cast<TGradientItems *>(FOpacityItems.get())})
        for (int i = 0; i < items->GetCount(); ++i)
            items->GetNode(i)->SetValue(items->GetNode(i)->SavedValue);
    EndUpdate();
}

void TGradient::SetTitle(const std::string &Text) {
    if (Text == FTitle)
        return;
    FTitle = Text;
    LevelChanged(*FColorItems);
}

void TGradient::SetComments(const std::string &Text) {
    if (Text == FComments)
        return;
    FComments = Text;
    PartChanged(*FColorItems, nullptr, gkComments, "Comments");
}

void TGradient::SetLinked(bool Flag) {
    if (Flag == FLinked)
        return;
    BeginUpdate();
    if (Flag) {
        FOpacityItems->ClearNodes();
        for (int i = 0; i < FColorItems->GetCount(); ++i) {
            std::unique_ptr<TGradientNode> node =
                FOpacityItems->CreateNode(FColorItems->GetNode(i)->Position());
            node->FSelected = FColorItems->GetNode(i)->Selected();
            FOpacityItems->AddNode(std::move(node));
        }
        FOpacityItems->FRotation = FColorItems->FRotation;
        FOpacityItems->FSmooth = FColorItems->FSmooth;
        FColorItems->SetLinked(FOpacityItems.get());
    } else {
        FColorItems->SetLinked(nullptr);
    }
    FLinked = Flag;
    PartChanged(*FOpacityItems, nullptr, gkGeneral, std::string());
    LevelChanged(*FColorItems);
    EndUpdateCaption(Flag ? "Link Color and Opacity" : "Unlink Color and Opacity");
}

void TGradient::LoadDefault() {
    BeginUpdate();
    FColorItems->Reset();
    FOpacityItems->Reset();
    EndUpdate();
    TConfigManager *config = ConfigManager();
    if (!config || config->Gradient->DefaultFile.empty() || config->Gradient->DefaultEntry.empty())
        return;
    try {
        auto reader = TEntryStream::CreateFromFile<TParReader>(config->Gradient->DefaultFile,
                                                               config->Gradient->DefaultEntry);
        ReadParameters(*reader, 3);
    } catch (const std::exception &) {
        // A missing or broken default leaves the built-in gradient.
    }
}
