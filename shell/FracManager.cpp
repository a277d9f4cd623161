#include "FracManager.h"

namespace {

TFractalManager *GlobalManager = nullptr;

} // namespace

TFractalManager::~TFractalManager() = default;

int TFractalManager::IndexOf(const TNotifyEvent &Method) const {
    for (size_t i = 0; i < FSubscriptions.size(); ++i)
        if (FSubscriptions[i].Method == Method)
            return static_cast<int>(i);
    return -1;
}

void TFractalManager::Subscribe(TFractalEventSet Events, const TNotifyEvent &Method) {
    if (Count() >= MaxSubscriptions)
        throw EFractalManagerError("TFractalManager.Subscribe: Too many subscriptions");
    FSubscriptions.push_back({Events, Method});
}

void TFractalManager::Unsubscribe(const TNotifyEvent &Method) {
    const int index = IndexOf(Method);
    if (index < 0)
        return;
    FSubscriptions.erase(FSubscriptions.begin() + index);
    for (TWalk *walk = FWalks; walk; walk = walk->Outer) {
        if (index < walk->Next)
            --walk->Next;
        if (index < walk->Limit)
            --walk->Limit;
    }
}

void TFractalManager::ChangeEvents(const TNotifyEvent &Method, TFractalEventSet Events) {
    const int index = IndexOf(Method);
    if (index >= 0)
        FSubscriptions[index].Events = Events;
}

void TFractalManager::Notify(int Kind) {
    if (Kind < 0 || Kind >= 8)
        return;
    const auto bit = static_cast<TFractalEventSet>(1u << Kind);
    TWalk walk{0, Count(), FWalks};
    FWalks = &walk;
    try {
        while (walk.Next < walk.Limit) {
            const TSubscription subscription = FSubscriptions[walk.Next++];
            if (subscription.Events & bit)
                subscription.Method(this);
        }
    } catch (...) {
        FWalks = walk.Outer;
        throw;
    }
    FWalks = walk.Outer;
}

void TFractalManager::SetActiveFractal(TFractalForm *Window, TFractalWindowHost *Host) {
    if (Window == FActiveFractal)
        return;
    FActiveFractal = Window;
    FActiveHost = Window ? Host : nullptr;
    Notify(fekFractal);
    Notify(fekInteraction);
}

TFractalManager *FractalManager() {
    return GlobalManager;
}

void InitializeFracManager() {
    if (!GlobalManager)
        GlobalManager = new TFractalManager();
}

void FinalizeFracManager() {
    delete GlobalManager;
    GlobalManager = nullptr;
}
