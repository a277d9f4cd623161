// Helpers shared by the tests of entry files, parameter text and the file manager.
#pragma once

#include <string>

// Path of a fixture under tests/compiler/data/.
std::string CompilerDataPath(const std::string &Name);
// The whole file as bytes; an empty text when it cannot be read.
std::string ReadFileBytes(const std::string &Path);
void WriteFileBytes(const std::string &Path, const std::string &Bytes);

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
