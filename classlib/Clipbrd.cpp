// The clipboard.
#include "Clipbrd.h"

#include <cstring>

#include "Forms.h"

TClipboard &Clipboard() {
    static TClipboard *clipboard = nullptr;
    if (!clipboard)
        clipboard = new TClipboard;
    return *clipboard;
}

void TClipboard::Open() {
    if (FOpenCount == 0) {
        HWND owner = Application ? Application->Handle() : nullptr;
        // Another program may hold the clipboard for a moment: try for about half a second.
        bool opened = OpenClipboard(owner) != 0;
        for (int attempt = 0; !opened && attempt < 25; ++attempt) {
            Sleep(20);
            opened = OpenClipboard(owner) != 0;
        }
        if (!opened)
            throw EClipboardException("Cannot open clipboard");
        FEmptied = false;
    }
    ++FOpenCount;
}

void TClipboard::Close() {
    if (FOpenCount == 0)
        return;
    if (--FOpenCount == 0)
        CloseClipboard();
}

void TClipboard::Clear() {
    Open();
    EmptyClipboard();
    FEmptied = true;
    Close();
}

std::string TClipboard::AsText() {
    Open();
    std::string result;
    HANDLE data = GetClipboardData(CF_TEXT);
    if (data) {
        const char *text = static_cast<const char *>(GlobalLock(data));
        if (text) {
            // The block may lack its terminator: never read past it.
            size_t size = GlobalSize(data);
            result.assign(text, strnlen(text, size));
            GlobalUnlock(data);
        }
    }
    Close();
    return result;
}

void TClipboard::SetAsText(const std::string &Value) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, Value.size() + 1);
    if (!block)
        throw EOutOfMemory("Out of memory");
    std::memcpy(GlobalLock(block), Value.c_str(), Value.size() + 1);
    GlobalUnlock(block);
    SetAsHandle(CF_TEXT, block);
}

HANDLE TClipboard::GetAsHandle(UINT Format) {
    Open();
    HANDLE result = GetClipboardData(Format);
    Close();
    return result;
}

void TClipboard::SetAsHandle(UINT Format, HANDLE Value) {
    try {
        Open();
    } catch (...) {
        GlobalFree(Value);
        throw;
    }
    if (!FEmptied) {
        EmptyClipboard();
        FEmptied = true;
    }
    if (!SetClipboardData(Format, Value))
        GlobalFree(Value);
    Close();
}
