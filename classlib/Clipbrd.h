// The clipboard.
#pragma once

#include <windows.h>

#include <string>

#include "Classes.h"

DECLARE_EXCEPTION(EClipboardException, Exception);

class TClipboard : public TObject {
public:
    DECLARE_CLASS_NAME(TClipboard)
    // Opening is counted; the clipboard is closed when the last Close matches the first Open.
    // Raises EClipboardException "Cannot open clipboard" when another program holds it.
    void Open();
    void Close();
    void Clear();
    bool HasFormat(UINT Format) const { return IsClipboardFormatAvailable(Format) != 0; }
    // The text on the clipboard ("" when there is none).
    std::string AsText();
    void SetAsText(const std::string &Value);
    HANDLE GetAsHandle(UINT Format);
    // Hands a global memory block to the clipboard (which owns it afterwards).
    void SetAsHandle(UINT Format, HANDLE Value);

private:
    int FOpenCount = 0;
    bool FEmptied = false;
};

// The one clipboard object (made on first use).
TClipboard &Clipboard();
