// Helpers shared by the tests of entry files, parameter text and the file manager.
#pragma once

#include <string>

// Path of a fixture under tests/compiler/data/.
std::string CompilerDataPath(const std::string &Name);
// The whole file as bytes; an empty text when it cannot be read.
std::string ReadFileBytes(const std::string &Path);
void WriteFileBytes(const std::string &Path, const std::string &Bytes);

// The line-end forms files come with: CR LF, a lone CR (older editors) and a lone LF (editors of
// other systems).
struct TLineEndForm {
    const char *Name;
    const char *Break;
};
inline constexpr TLineEndForm LineEndForms[] = {{"CR LF", "\r\n"}, {"CR", "\r"}, {"LF", "\n"}};

// Text with every line end (CR LF, lone CR, lone LF) written as Break.
std::string WithLineEnds(const std::string &Text, const char *Break);

// A fresh folder of its own under the system's temporary folder, deleted with everything in it
// when the object goes.
class TTempFolder {
public:
    TTempFolder();
    ~TTempFolder();
    TTempFolder(const TTempFolder &) = delete;
    TTempFolder &operator=(const TTempFolder &) = delete;
    const std::string &Path() const { return FPath; }
    std::string File(const std::string &Name) const { return FPath + Name; }

private:
    std::string FPath;
};
