// Symbol maps: for a loaded module, its units (code ranges), public routines and source lines, read
// from the module's "VEX"/"EXCEPT" resource or from a packed map file beside it (the module's name
// with the extension .vex). Maps are cached per module file and its last-write time.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SysUtils.h"

struct MapSegment {
    bool used = true;
    bool isCode = true;
    std::uintptr_t start = 0;
    std::uint32_t length = 0;
    std::string unit;
};

struct MapPublic {
    bool used = true;
    bool isCode = true;
    std::string name;
    std::uintptr_t address = 0;
};

struct MapLine {
    std::uint32_t line = 0;
    std::uintptr_t address = 0;
};

// A byte buffer read front to back; reads never go past its end.
class TMiniStream : public TObject {
public:
    TMiniStream(const void *Data, std::size_t Size);
    DECLARE_CLASS_NAME(TMiniStream)
    // Copies at most what is left; the count copied (0 for a negative count).
    int Read(void *Buffer, int Count);
    std::size_t Remaining() const { return FData.size() - FPosition; }

private:
    std::string FData;
    std::size_t FPosition = 0;
};

class TMapFile : public TObject {
public:
    DECLARE_CLASS_NAME(TMapFile)
    std::vector<MapSegment> Segments; // code segments first, each kind ordered by start
    std::vector<MapPublic> Publics;   // ordered by address
    std::vector<MapLine> Lines;       // ordered by address
    std::uintptr_t EntryPoint = 0;
    std::uintptr_t DataStart = 0, DataEnd = 0;
    HMODULE Module = nullptr;
    bool Valid = false;
    std::uintptr_t CodeStart = 0, CodeEnd = 0;
    std::string MapFileName;
    std::string ModuleFileName;

    // Reads a packed map; false (and nothing kept) for a wrong text, version, check word or length.
    bool ReadPackedMap(const std::string &Packed);
};

// The map of the module that contains Address (null: the program's own module). Never null: when
// the address is in no module or no map can be read, an empty map that is not valid. The maps
// belong to the cache.
const TMapFile *GetModuleMap(const void *Address);
const MapSegment *FindUnit(const TMapFile &Map, std::uintptr_t Address);
const MapPublic *FindPublic(const TMapFile &Map, std::uintptr_t Address);
std::uint32_t FindLine(const TMapFile &Map, std::uintptr_t Address);
std::string NameOfExactAddress(std::uintptr_t Address);
void FreeModuleMaps();

// Module start-up: the disassembly names routines that are not exports from the maps; the end frees
// the cached maps.
void InitializeVexMapFile();
void FinalizeVexMapFile();

// The key under which a payload of the given length is enciphered.
std::string PackageKey(std::uint32_t PayloadLength);
