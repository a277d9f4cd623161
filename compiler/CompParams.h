// Formula parameters: the values a formula declares for the user to set (booleans, integers,
// floats, complex numbers, colours, functions, colour-merge functions and headings), with their
// defaults, ranges and change notification, and the list a compiled object keeps them in.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "Classes.h"
#include "CompDefinitions.h"
#include "CompValues.h"
#include "SysUtils.h"

class TParamList;

class TParam : public TObject {
public:
    TParam(const std::string &AName, std::uint8_t AType);
    TParam(const TParam &) = delete;
    TParam &operator=(const TParam &) = delete;
    DECLARE_CLASS_NAME(TParam)

    // Takes Other's current value (a parameter of the same class); Modified is set.
    virtual void AssignValue(const TParam &Other) = 0;
    // A parameter of the same class, name, caption, hint and range whose value and default are
    // both this parameter's default.
    virtual std::unique_ptr<TParam> Clone() const = 0;
    // Without a constant the current value becomes the default; with one the default takes the
    // constant's value, limited to the range.
    virtual void SetDefault(const TConstant *Constant) = 0;
    // The value becomes the default; Modified is set.
    virtual void ResetToDefault() = 0;

    const std::string &GetCaption() const { return FCaption; }
    void SetCaption(const std::string &Value);
    bool GetEnabled() const { return FEnabled; }
    void SetEnabled(bool Value);
    bool GetVisible() const { return FVisible; }
    void SetVisible(bool Value);
    const std::string &GetName() const { return FName; }

    std::string Hint;
    // Set by every value assignment, even of an equal value.
    bool Modified = false;
    // Set by the owning list.
    TNotifyEvent OnChange;
    const std::uint8_t Type;

protected:
    void Changed() { OnChange(this); }
    // Copies what every clone shares: caption and hint.
    void CopyDescription(TParam &Target) const;

private:
    std::string FCaption;
    bool FEnabled = true;
    std::string FName;
    bool FVisible = true;
};

// A complex number; bounds apply to each part.
class TComplexParam : public TParam {
public:
    explicit TComplexParam(const std::string &AName);
    DECLARE_CLASS_NAME(TComplexParam)

    void AssignValue(const TParam &Other) override;
    std::unique_ptr<TParam> Clone() const override;
    void SetDefault(const TConstant *Constant) override;
    void ResetToDefault() override;

    void SetMin(double Re, double Im);
    void SetMax(double Re, double Im);
    // Limits the default and the value to the bounds, without notification.
    void Clamp();

    // Value refuses (silently) texts outside the bounds.
    TComplexValue Value;
    TComplexValue Default;
    double MinRe = 0, MinIm = 0, MaxRe = 0, MaxIm = 0;
    bool HasMin = false, HasMax = false;

private:
    void ValueChanged(TObject *Sender);
    void ValidateValue(TObject *Sender, const std::string &ReText, const std::string &ImText, bool &Accept);
    bool InRange(long double Re, long double Im) const;
};

class TFloatParam : public TParam {
public:
    explicit TFloatParam(const std::string &AName);
    DECLARE_CLASS_NAME(TFloatParam)

    void AssignValue(const TParam &Other) override;
    std::unique_ptr<TParam> Clone() const override;
    void SetDefault(const TConstant *Constant) override;
    void ResetToDefault() override;

    void SetMin(double M);
    void SetMax(double M);
    // Sets an out-of-range default or value to the bound, without notification.
    void Clamp();

    TFloatValue Value;
    TFloatValue Default;
    double Min = 0, Max = 0;
    bool HasMin = false, HasMax = false;

private:
    void ValueChanged(TObject *Sender);
    void ValidateValue(TObject *Sender, const std::string &Text, bool &Accept);
};

class TIntParam : public TParam {
public:
    explicit TIntParam(const std::string &AName);
    DECLARE_CLASS_NAME(TIntParam)

    void AssignValue(const TParam &Other) override;
    std::unique_ptr<TParam> Clone() const override;
    void SetDefault(const TConstant *Constant) override;
    void ResetToDefault() override;

    std::int32_t GetValue() const { return FValue; }
    // Modified is set; the value is limited to the bounds and notified when it changed.
    void SetValue(std::int32_t AValue);
    void SetMin(std::int32_t M);
    void SetMax(std::int32_t M);
    std::int32_t Clamp(std::int32_t AValue) const;

    std::int32_t Default = 0;
    std::int32_t Min = 0, Max = 0;
    bool HasMin = false, HasMax = false;
    // Names of the values 0, 1, ... of an enumerated parameter; empty otherwise.
    TStringList Enum;

private:
    std::int32_t FValue = 0;
};

class TBoolParam : public TParam {
public:
    explicit TBoolParam(const std::string &AName) : TParam(AName, vtBoolean) {}
    DECLARE_CLASS_NAME(TBoolParam)

    void AssignValue(const TParam &Other) override;
    std::unique_ptr<TParam> Clone() const override;
    void SetDefault(const TConstant *Constant) override;
    void ResetToDefault() override;

    bool GetValue() const { return FValue; }
    void SetValue(bool AValue);

    bool Default = false;

private:
    bool FValue = false;
};

// A 32-bit colour (blue, green, red, alpha bytes).
class TColorParam : public TParam {
public:
    explicit TColorParam(const std::string &AName) : TParam(AName, vtColor) {}
    DECLARE_CLASS_NAME(TColorParam)

    void AssignValue(const TParam &Other) override;
    std::unique_ptr<TParam> Clone() const override;
    void SetDefault(const TConstant *Constant) override;
    void ResetToDefault() override;

    std::uint32_t GetValue() const { return FValue; }
    void SetValue(std::uint32_t AValue);

    std::uint32_t Default = 0;

private:
    std::uint32_t FValue = 0;
};

// A selectable function: its function id.
class TCustomFuncParam : public TParam {
public:
    DECLARE_CLASS_NAME(TCustomFuncParam)

    void AssignValue(const TParam &Other) override;
    // Ignores the constant: the current value becomes the default.
    void SetDefault(const TConstant *Constant) override;
    void ResetToDefault() override;

    std::uint8_t GetValue() const { return FValue; }
    void SetValue(std::uint8_t AValue);

    std::uint8_t Default = 0;

protected:
    TCustomFuncParam(const std::string &AName, std::uint8_t AType, std::uint8_t AValue)
        : TParam(AName, AType), Default(AValue), FValue(AValue) {}

private:
    std::uint8_t FValue;
};

// One of the functions 0..28; FN1 to FN4 get the captions "Function 1" to "Function 4".
class TFuncParam : public TCustomFuncParam {
public:
    explicit TFuncParam(const std::string &AName);
    DECLARE_CLASS_NAME(TFuncParam)
    std::unique_ptr<TParam> Clone() const override;
};

// One of the merge modes 49..67 (starting at mergenormal).
class TColorFuncParam : public TCustomFuncParam {
public:
    explicit TColorFuncParam(const std::string &AName)
        : TCustomFuncParam(AName, vtColorFunction, FirstMergeId) {}
    DECLARE_CLASS_NAME(TColorFuncParam)
    std::unique_ptr<TParam> Clone() const override;
};

// Groups the parameters after it; it has no value.
class THeadingParam : public TParam {
public:
    explicit THeadingParam(const std::string &AName) : TParam(AName, vtHeading) {}
    DECLARE_CLASS_NAME(THeadingParam)
    void AssignValue(const TParam &Other) override {}
    std::unique_ptr<TParam> Clone() const override;
    void SetDefault(const TConstant *Constant) override {}
    void ResetToDefault() override {}
};

// Kinds of TParamList::IndexOfName.
constexpr int pkOrdinary = 1; // every type but functions, headings included
constexpr int pkFunction = 2; // functions and colour functions

using TParamListChangeEvent = TMethod<void(TObject *Sender, const std::string &Caption)>;

// The parameters of a compiled object in declaration order. A change of any parameter reaches
// OnChange with the parameter's caption (held back while HoldChanges is set).
class TParamList : public TObject {
public:
    TParamList() = default;
    TParamList(const TParamList &) = delete;
    TParamList &operator=(const TParamList &) = delete;
    DECLARE_CLASS_NAME(TParamList)

    void Add(std::unique_ptr<TParam> Param);
    void Clear();
    void Delete(int I);
    // Clear, then a clone of each of Other's parameters.
    void Assign(const TParamList &Other);
    int GetCount() const { return FItems.Count(); }
    TParam *GetItem(int I) const { return FItems[I]; }
    // The first parameter of the kinds (pkOrdinary, pkFunction) whose name equals Name, letter
    // case ignored; -1 when none.
    int IndexOfName(const std::string &Name, int Kinds) const;
    // Orders the parameters by caption, letter case ignored (stable).
    void SortByCaption();

    // A parameter changed: recorded, and fired unless HoldChanges is set.
    void Changed(const std::string &Caption);
    // Fires a recorded change.
    void Flush();

    TParamListChangeEvent OnChange;
    std::string ChangeCaption;
    bool ChangePending = false;
    bool HoldChanges = false;

private:
    void ParamChanged(TObject *Sender);
    void IndexItem(int I);
    void Reindex();
    TObjectList<TParam> FItems;
    // The first parameter of each name (upper case) per kind, so that a look-up costs no walk
    // over the list; rebuilt when items move.
    std::unordered_map<std::string, int> FFirstOrdinary;
    std::unordered_map<std::string, int> FFirstFunction;
};
