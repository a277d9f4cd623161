// The active-fractal manager: the hub through which the tool windows follow the fractal windows.
// It holds the active fractal window and a list of subscriptions, each a method with the set of
// event kinds it wants; fractal windows report what happened by kind, and each subscriber re-reads
// what it shows from the active window. Interface thread only.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "Classes.h"
#include "SysUtils.h"

class TFractalForm;
class TFractalWindowHost;

DECLARE_EXCEPTION(EFractalManagerError, Exception);

// Event kinds. A set holds kind k as bit k, so only kinds 0..7 can be subscribed to.
constexpr int fekInteraction = 0; // the active window's interaction state (mouse mode, title)
constexpr int fekFractal = 1;     // a fractal changed, or another window became active
constexpr int fekCalculation = 2; // a calculation started or finished
constexpr int fekProgress = 3;    // calculation progress
using TFractalEventSet = std::uint8_t;

constexpr TFractalEventSet FractalEventSet(std::initializer_list<int> Kinds) {
    TFractalEventSet set = 0;
    for (int kind : Kinds)
        set = static_cast<TFractalEventSet>(set | (1u << kind));
    return set;
}

class TFractalManager : public TObject {
public:
    DECLARE_CLASS_NAME(TFractalManager)
    static constexpr int MaxSubscriptions = 1024;

    TFractalManager() = default;
    ~TFractalManager() override;
    TFractalManager(const TFractalManager &) = delete;
    TFractalManager &operator=(const TFractalManager &) = delete;

    // Appends a subscription; the same method may subscribe more than once. The subscription
    // past MaxSubscriptions raises EFractalManagerError and changes nothing.
    void Subscribe(TFractalEventSet Events, const TNotifyEvent &Method);
    // Removes the first subscription of Method (same code and object); nothing when none.
    void Unsubscribe(const TNotifyEvent &Method);
    // Replaces the event set of the first subscription of Method; nothing when none.
    void ChangeEvents(const TNotifyEvent &Method, TFractalEventSet Events);
    // Calls every subscriber whose set holds Kind, in subscription order, with the manager as
    // sender. A subscriber may subscribe or unsubscribe (itself or others) meanwhile: those
    // removed are not called any more, those added are called from the next notification on.
    void Notify(int Kind);

    TFractalForm *ActiveFractal() const { return FActiveFractal; }
    // The active window as the selection box and the mode window see it; nullptr without one.
    TFractalWindowHost *ActiveHost() const { return FActiveHost; }
    // A different window (or nullptr) becomes the active one: kind 1, then kind 0, are notified.
    // A fractal window passes itself twice, as window and as host.
    void SetActiveFractal(TFractalForm *Window, TFractalWindowHost *Host = nullptr);

    int Count() const { return static_cast<int>(FSubscriptions.size()); }
    TFractalEventSet Events(int Index) const { return FSubscriptions.at(Index).Events; }
    const TNotifyEvent &Method(int Index) const { return FSubscriptions.at(Index).Method; }

private:
    struct TSubscription {
        TFractalEventSet Events;
        TNotifyEvent Method;
    };
    // One running Notify: Next is the index of the next subscription to look at, Limit the end
    // of the list as it stood when the walk began; removals move both.
    struct TWalk {
        int Next;
        int Limit;
        TWalk *Outer;
    };
    int IndexOf(const TNotifyEvent &Method) const;

    std::vector<TSubscription> FSubscriptions;
    TFractalForm *FActiveFractal = nullptr;
    TFractalWindowHost *FActiveHost = nullptr;
    TWalk *FWalks = nullptr;
};

// The global manager; nullptr outside InitializeFracManager .. FinalizeFracManager.
TFractalManager *FractalManager();
void InitializeFracManager();
void FinalizeFracManager();
