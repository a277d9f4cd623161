// Gradients: a colour part and an opacity part, each an ordered list of nodes on a circle of 400
// positions, rendered into the 51200 gradient entries of a layer's colour table, with an undo
// history of their own. Every edit goes through the operations here and commits once, when the
// outermost update bracket closes. The text form is in FracGradientText.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Classes.h"
#include "CompPersistent.h"
#include "FracHistory.h"
#include "FracImage.h"

class TGradient;
class TGradientItems;
class TEntryWriter;

constexpr int GradientPositions = 400;
constexpr int GradientStepsPerPosition = 128;

// p mod 400 in 0 .. 399.
int WrapGradientPosition(int P);
// In -200 .. 199.
int WrapGradientRotation(int R);

// Kinds of node changes, which decide whether a change joins the previous undo step.
constexpr std::uint8_t gkGeneral = 0;
constexpr std::uint8_t gkNodeAdjust = 1;
constexpr std::uint8_t gkRotation = 2;
constexpr std::uint8_t gkComments = 3;

class TGradientNode : public TObject {
public:
    DECLARE_CLASS_NAME(TGradientNode)
    explicit TGradientNode(TGradientItems &AItems) : Items(AItems) {}

    virtual void Invert() = 0;
    virtual void Randomize() = 0;
    // The value remembered by SaveNodeValues: the colour value or the opacity.
    virtual std::uint32_t GetValue() const = 0;
    virtual void SetValue(std::uint32_t Value) = 0;
    // Channel values 0 .. 255 in table byte order (colour: blue, green, red; opacity: one).
    virtual int GetChannel(int Channel) const = 0;

    int Index() const { return FIndex; }
    int Position() const { return FPosition; }
    bool Selected() const { return FSelected; }
    void SetPosition(int P);
    void SetSelected(bool Flag);

    TGradientItems &Items;
    std::uint32_t SavedValue = 0;

protected:
    friend class TGradientItems;
    friend class TGradientColorItems;
    friend class TGradientOpacityItems;
    friend class TGradient;
    // Reports a change of this node's value with the caption "Adjust Node".
    void ValueChanged();
    int FIndex = 0;
    int FPosition = 0;
    bool FSelected = false;
};

class TGradientColorNode : public TGradientNode {
public:
    DECLARE_CLASS_NAME(TGradientColorNode)
    using TGradientNode::TGradientNode;

    void Invert() override;
    void Randomize() override;
    std::uint32_t GetValue() const override { return GetColor(); }
    void SetValue(std::uint32_t Value) override { SetColor(Value); }
    int GetChannel(int Channel) const override { return Channel == 0 ? FBlue : Channel == 1 ? FGreen : FRed; }

    // Red + green * 256 + blue * 65536.
    std::uint32_t GetColor() const { return FRed | (FGreen << 8) | (FBlue << 16); }
    void SetColor(std::uint32_t Color);
    void SetRed(int V);
    void SetGreen(int V);
    void SetBlue(int V);
    void SetHue(int V);
    void SetSaturation(int V);
    void SetLuminance(int V);
    int Red() const { return FRed; }
    int Green() const { return FGreen; }
    int Blue() const { return FBlue; }
    int Hue() const { return FHue; }
    int Saturation() const { return FSaturation; }
    int Luminance() const { return FLuminance; }

    // Sets all channels without reporting (building and restoring nodes).
    void AssignColor(std::uint32_t Color);

private:
    void SetRGB(int R, int G, int B);
    void SetHSL(int H, int S, int L);
    int FBlue = 0, FGreen = 0, FHue = 0, FLuminance = 0, FRed = 0, FSaturation = 0;
};

class TGradientOpacityNode : public TGradientNode {
public:
    DECLARE_CLASS_NAME(TGradientOpacityNode)
    using TGradientNode::TGradientNode;

    void Invert() override;
    void Randomize() override;
    std::uint32_t GetValue() const override { return static_cast<std::uint32_t>(FOpacity); }
    void SetValue(std::uint32_t Value) override { SetOpacity(static_cast<int>(Value)); }
    int GetChannel(int) const override { return FOpacity; }

    int Opacity() const { return FOpacity; }
    void SetOpacity(int V);
    void AssignOpacity(int V) { FOpacity = V < 0 ? 0 : V > 255 ? 255 : V; }

private:
    int FOpacity = 255;
};

class TGradientItems : public TObject {
public:
    DECLARE_CLASS_NAME(TGradientItems)
    explicit TGradientItems(TGradient &AGradient) : Gradient(AGradient) {}

    virtual std::unique_ptr<TGradientNode> CreateNode(int Position) = 0;
    virtual void ClearTable() = 0;
    virtual void RenderSegment(int Index);
    virtual void Reset() = 0;
    // Channels rendered: their table byte offsets.
    virtual int ChannelCount() const = 0;
    virtual int ChannelByte(int Channel) const = 0;

    int GetCount() const { return FNodes.Count(); }
    TGradientNode *GetNode(int Index) const { return FNodes.Items(Index); }
    int GetSelectedCount() const;
    // The one selected node's position; -1 with several selected, -2 with none.
    int GetSelectedPosition() const;
    void SetSelectedPosition(int Position);
    int InsertAt(int Position);
    void Delete(int Index);
    void DeleteSelected();
    void Clear();
    void Invert();
    void Reverse();
    void SetRotation(int R);
    void Randomize();
    void SetSmooth(bool Flag);
    void SetActive(bool Flag);
    void SetLinked(TGradientItems *Items);
    void SelectAll();
    void SelectNone();
    void InvertSelection();
    void SelectNext();
    void SelectPrevious();

    bool Active() const { return FActive; }
    TGradientItems *Linked() const { return FLinked; }
    int Rotation() const { return FRotation; }
    bool Smooth() const { return FSmooth; }

    // Re-renders the segments a change of node Index can affect (all with Index -1).
    void RenderAround(int Index);
    void RenderAll();
    // The integer cubic of smooth segment Index for one channel (value(t) = A t^3 + B t^2 + C t + D,
    // 0 <= t <= 1) and the segment's width in positions; the renderer and the interpolator share it.
    void GetSmoothCurve(int Index, int Channel, int &A, int &B, int &C, int &D, int &Width) const;
    // Makes this part's nodes match Source's positions and selection (linked parts).
    void SyncWith(TGradientItems &Source);

    TGradient &Gradient;

protected:
    friend class TGradientNode;
    friend class TGradient;
    // Inserts a node before the first node with a larger position; its index.
    int AddNode(std::unique_ptr<TGradientNode> Node);
    void Reindex();
    // Moves node Index to position P keeping the order and distinct positions; its new index.
    int MoveNode(int Index, int P);
    void RenderLinearSegment(int Index);
    void RenderSmoothSegment(int Index);
    void NodeChanged(TGradientNode *Node, std::uint8_t Kind, const std::string &Caption);
    void LevelChanged();
    // Clears the nodes without reporting.
    void ClearNodes();
    // Rotates by D steps and restores the order, without reporting.
    void ShiftNodes(int D);

    bool FActive = false;
    TGradientItems *FLinked = nullptr;
    TObjectList<TGradientNode> FNodes;
    int FRotation = 0;
    bool FSmooth = false;
    int FBusy = 0;
};

class TGradientColorItems : public TGradientItems {
public:
    DECLARE_CLASS_NAME(TGradientColorItems)
    using TGradientItems::TGradientItems;

    std::unique_ptr<TGradientNode> CreateNode(int Position) override;
    void ClearTable() override;
    void Reset() override;
    int ChannelCount() const override { return 3; }
    int ChannelByte(int Channel) const override { return Channel; }

    TGradientColorNode *GetColorNode(int Index) const {
        return static_cast<TGradientColorNode *>(GetNode(Index));
    }

    // Common value of the selected nodes: -1 when they differ, -2 with none selected.
    int GetSelectedColor() const;
    int GetSelectedRed() const;
    int GetSelectedGreen() const;
    int GetSelectedBlue() const;
    int GetSelectedHue() const;
    int GetSelectedSaturation() const;
    int GetSelectedLuminance() const;
    void SetSelectedColor(int V);
    void SetSelectedRed(int V);
    void SetSelectedGreen(int V);
    void SetSelectedBlue(int V);
    void SetSelectedHue(int V);
    void SetSelectedSaturation(int V);
    void SetSelectedLuminance(int V);
    void RandomizeBright();
    void RandomizeMisty();

    // 256 colours of 3 bytes each (blue, green, red) into linear nodes that keep every colour
    // within 4 of the line between the nodes that frame it. Exact gives every colour k a node of
    // its own at position k * 399 div 255, so that a coloring that writes that position shows
    // colour k unchanged.
    void LoadFromPalette(const std::uint8_t *Palette, bool Exact = false);

private:
    template <class Get> int SelectedValue(Get get) const;
    template <class Set> void SetSelectedValue(Set set);
};

class TGradientOpacityItems : public TGradientItems {
public:
    DECLARE_CLASS_NAME(TGradientOpacityItems)
    using TGradientItems::TGradientItems;

    std::unique_ptr<TGradientNode> CreateNode(int Position) override;
    void ClearTable() override;
    void Reset() override;
    int ChannelCount() const override { return 1; }
    int ChannelByte(int) const override { return 3; }

    TGradientOpacityNode *GetOpacityNode(int Index) const {
        return static_cast<TGradientOpacityNode *>(GetNode(Index));
    }
    int GetSelectedOpacity() const;
    void SetSelectedOpacity(int V);
};

using TTableChangeEvent = TMethod<void(TObject *Sender, int Flags)>;

class TGradient : public TPersistentObject {
public:
    DECLARE_CLASS_NAME(TGradient)
    // The table belongs to the caller and must outlive the gradient.
    explicit TGradient(TGradientTable &ATable);
    ~TGradient() override;
    TGradient(const TGradient &) = delete;
    TGradient &operator=(const TGradient &) = delete;

    void BeginUpdate();
    void EndUpdate() { EndUpdateCaption(std::string()); }
    void EndUpdateCaption(const std::string &Caption);
    void BeginAdjust();
    void EndAdjust(int Mode, const std::string &Caption);
    void CancelAdjust();
    bool IsAdjusting() const { return FAdjustCount > 0; }
    void StartNewUndoStep() { FLastKind = gkGeneral; }
    void SaveNodeValues();
    void RestoreNodeValues();

    void SetTitle(const std::string &Text);
    void SetComments(const std::string &Text);
    void SetLinked(bool Flag);
    void LoadDefault();

    // Text form: flags of WriteParameters 1 gradient section, 2 opacity section, 4 active flags,
    // 8 title, 16 comments as comment lines, 32 clear Modified, 64 selection; of ReadParameters
    // 1 comments from the entry, 2 clear the history, 4 clear Modified, 8 reset the opacity part.
    void WriteParameters(TParWriter &Writer, int Flags, const std::string &ATitle = std::string());
    void ReadParameters(TParReader &Reader, int Flags);
    void LoadFromReader(TParReader &Reader) override { ReadParameters(Reader, 0); }
    void SaveToWriter(TParWriter &Writer) override { WriteParameters(Writer, 71); }
    // Reads a 256-colour palette file; EGradientPaletteError when it is not one, the gradient
    // unchanged. Exact as for TGradientColorItems::LoadFromPalette.
    void LoadFromMapFile(const std::string &FileName, bool Exact = false);

    TGradientColorItems &ColorItems() const { return *FColorItems; }
    TGradientOpacityItems &OpacityItems() const { return *FOpacityItems; }
    THistoryList &History() const { return *FHistory; }
    TGradientTable &Table() const { return FTable; }
    const std::string &Title() const { return FTitle; }
    const std::string &Comments() const { return FComments; }
    bool Linked() const { return FLinked; }
    bool Modified() const { return FModified; }
    void SetModified(bool Flag) { FModified = Flag; }
    bool HasTransparency() const { return FHasTransparency; }
    bool Restoring() const { return FRestoring; }

    TNotifyEvent OnChange;
    TNotifyEvent OnDestroy;
    TNotifyEvent OnTransparencyChange;
    TTableChangeEvent OnTableChange;

private:
    friend class TGradientItems;
    friend class TGradientNode;
    void HistoryChanged(TObject *Sender);
    void PartChanged(TGradientItems &Items, TGradientNode *Node, std::uint8_t Kind,
                     const std::string &Caption);
    void LevelChanged(TGradientItems &Items);
    void MarkPart(TGradientItems &Items);
    void CommitWhenIdle();
    void Commit();
    void BringActiveInStep(TGradientItems &Changed);

    std::unique_ptr<TGradientColorItems> FColorItems;
    std::string FTitle;
    std::string FComments;
    std::unique_ptr<THistoryList> FHistory;
    bool FLinked = false;
    bool FModified = false;
    std::unique_ptr<TGradientOpacityItems> FOpacityItems;
    int FAdjustCount = 0;
    TGradientTable &FTable;
    bool FHasTransparency = false;
    bool FRestoring = false;
    std::uint8_t FLastKind = gkGeneral;
    bool FBusy = false;
    std::uint8_t FPendingKind = gkGeneral;
    TGradientNode *FPendingColorNode = nullptr;
    TGradientNode *FPendingOpacityNode = nullptr;
    bool FPendingAllColor = false;
    bool FPendingAllOpacity = false;
    std::string FPendingCaption;
    std::uint8_t FPendingLevel = 0;
    std::uint8_t FPendingParts = 0;
    std::uint8_t FPendingRender = 0; // parts whose nodes changed and must be rendered
    int FUpdateCount = 0;
};

// Raised for a palette file that is not a sound 256-colour palette; the message says where.
DECLARE_EXCEPTION(EGradientPaletteError, Exception);

// The palette file as an in-memory entry file with one gradient entry; the caller owns it.
std::unique_ptr<TEntryWriter> ConvertMapFileToEntry(const std::string &FileName);
