#include "ShellInstance.h"

#include "GenInstance.h"

namespace {

// Posted to the application window to hand the queue on from the message loop.
constexpr UINT CM_DELIVERHANDOVER = WM_APP + 0x3A1;

std::unique_ptr<TInstanceReceiver> GReceiver;

} // namespace

std::vector<std::string> HandOverFileNames(const std::vector<std::string> &Arguments) {
    std::vector<std::string> names;
    for (const std::string &argument : Arguments)
        if (!argument.empty() && argument[0] != '/')
            names.push_back(argument);
    return names;
}

TInstanceReceiver::TInstanceReceiver() {
    Application->HookMainWindow(MakeEvent<&TInstanceReceiver::AppWindowHook>(this));
    RegisterInstanceWindow(Application->Handle());
}

TInstanceReceiver::~TInstanceReceiver() {
    if (Application)
        Application->UnhookMainWindow(MakeEvent<&TInstanceReceiver::AppWindowHook>(this));
}

bool TInstanceReceiver::AppWindowHook(TMessage &Message) {
    if (Message.Msg == CM_DELIVERHANDOVER) {
        FDeliveryPosted = false;
        Deliver();
        return true;
    }
    if (InstanceMessage == 0 || Message.Msg != InstanceMessage)
        return false;
    // The sender waits for the answer: only queue here, and open from the message loop.
    FQueue.push_back(HandOverFileNames(ReceiveInstanceArguments(Message.WParam, Message.LParam)));
    if (Started() && !FDeliveryPosted)
        FDeliveryPosted = PostMessageA(Application->Handle(), CM_DELIVERHANDOVER, 0, 0) != 0;
    Message.Result = InstanceAccepted;
    return true;
}

void TInstanceReceiver::StartupDone(THandOverEvent Handler) {
    FHandler = Handler;
    if (!FQueue.empty() && !FDeliveryPosted)
        FDeliveryPosted = PostMessageA(Application->Handle(), CM_DELIVERHANDOVER, 0, 0) != 0;
}

void TInstanceReceiver::Detach() {
    FHandler = nullptr;
}

void TInstanceReceiver::Deliver() {
    // One start's names per posted message, so that a handler that raises or runs a modal loop
    // leaves the later ones to their own turn.
    if (FQueue.empty() || !Started())
        return;
    std::vector<std::string> names = std::move(FQueue.front());
    FQueue.erase(FQueue.begin());
    if (!FQueue.empty() && !FDeliveryPosted)
        FDeliveryPosted = PostMessageA(Application->Handle(), CM_DELIVERHANDOVER, 0, 0) != 0;
    FHandler(names);
}

TInstanceReceiver *InstanceReceiver() {
    return GReceiver.get();
}

void InitializeShellInstance() {
    GReceiver = std::make_unique<TInstanceReceiver>();
}

void FinalizeShellInstance() {
    GReceiver.reset();
}
