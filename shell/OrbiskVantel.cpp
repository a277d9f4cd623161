// The program file's entry.
#include <windows.h>

#include "ShellMain.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    ProgramMain();
}
