// The program file's entry.
#include <windows.h>

#include "FormBrowse.h"
#include "ShellMain.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    ProgramMain(EditorModules());
}
