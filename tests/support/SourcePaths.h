// A file named relative to a source file's folder, in the Windows form that the program opens under
// Wine: the benchmarks find their fixture files this way wherever the build tree lies.
#pragma once

#include <string>

inline std::string PathBesideSource(const char *SourceFile, const char *Relative) {
    std::string path = SourceFile;
    const std::size_t slash = path.find_last_of("/\\");
    path = path.substr(0, slash == std::string::npos ? 0 : slash + 1) + Relative;
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return path;
}
