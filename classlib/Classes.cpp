// Lists, string lists and the streams that do not touch the operating system.
#include "Classes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

// =============================================================================================
// TList

void RaiseListIndexError(int Index) {
    throw EListError("List index out of bounds (%d)", Index);
}

void TList::CheckIndex(int Index) const {
    if (Index < 0 || Index >= Count())
        RaiseListIndexError(Index);
}

int TList::Add(void *Item) {
    FItems.push_back(Item);
    return Count() - 1;
}

void TList::Insert(int Index, void *Item) {
    if (Index < 0 || Index > Count())
        RaiseListIndexError(Index);
    FItems.insert(FItems.begin() + Index, Item);
}

void TList::Delete(int Index) {
    CheckIndex(Index);
    FItems.erase(FItems.begin() + Index);
}

int TList::Remove(void *Item) {
    int index = IndexOf(Item);
    if (index >= 0)
        Delete(index);
    return index;
}

void *TList::Extract(void *Item) {
    int index = IndexOf(Item);
    if (index < 0)
        return nullptr;
    Delete(index);
    return Item;
}

int TList::IndexOf(void *Item) const {
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i] == Item)
            return static_cast<int>(i);
    return -1;
}

void TList::Clear() {
    std::vector<void *>().swap(FItems);
}

void TList::Exchange(int Index1, int Index2) {
    CheckIndex(Index1);
    CheckIndex(Index2);
    std::swap(FItems[Index1], FItems[Index2]);
}

void TList::Move(int CurIndex, int NewIndex) {
    if (CurIndex == NewIndex)
        return;
    CheckIndex(CurIndex);
    CheckIndex(NewIndex);
    void *item = FItems[CurIndex];
    FItems.erase(FItems.begin() + CurIndex);
    FItems.insert(FItems.begin() + NewIndex, item);
}

void TList::Sort(TListSortCompare Compare) {
    MergeSortItems(FItems, [Compare](void *a, void *b) { return Compare(a, b) < 0; });
}

void TList::Pack() {
    FItems.erase(std::remove(FItems.begin(), FItems.end(), nullptr), FItems.end());
}

void TList::SetCount(int NewCount) {
    if (NewCount < 0)
        throw EListError("List count out of bounds (%d)", NewCount);
    FItems.resize(static_cast<size_t>(NewCount), nullptr);
}

void TList::SetCapacity(int NewCapacity) {
    if (NewCapacity < Count())
        throw EListError("List capacity out of bounds (%d)", NewCapacity);
    FItems.reserve(static_cast<size_t>(NewCapacity));
}

void *TList::Items(int Index) const {
    CheckIndex(Index);
    return FItems[Index];
}

void TList::SetItems(int Index, void *Item) {
    CheckIndex(Index);
    FItems[Index] = Item;
}

// =============================================================================================
// TStream

int64_t TStream::Position() {
    return Seek(0, soFromCurrent);
}

void TStream::SetPosition(int64_t Pos) {
    Seek(Pos, soFromBeginning);
}

int64_t TStream::Size() {
    int64_t pos = Seek(0, soFromCurrent);
    int64_t size = Seek(0, soFromEnd);
    Seek(pos, soFromBeginning);
    return size;
}

void TStream::SetSize(int64_t) {
    throw EStreamError("Stream size cannot be changed");
}

int64_t TStream::Remaining() {
    int64_t rest = Size() - Position();
    return rest > 0 ? rest : 0;
}

void TStream::RaiseReadError() const {
    const std::string name = FileNameForErrors();
    if (name.empty())
        throw EReadError("Stream read error");
    throw EReadError("Stream read error in file \"%s\"", name);
}

void TStream::RaiseWriteError() const {
    const std::string name = FileNameForErrors();
    if (name.empty())
        throw EWriteError("Stream write error");
    throw EWriteError("Stream write error in file \"%s\"", name);
}

void TStream::ReadBuffer(void *Buffer, int32_t Count) {
    if (Count < 0 || (Count != 0 && Read(Buffer, Count) != Count))
        RaiseReadError();
}

void TStream::WriteBuffer(const void *Buffer, int32_t Count) {
    if (Count < 0 || (Count != 0 && Write(Buffer, Count) != Count))
        RaiseWriteError();
}

int64_t TStream::CopyFrom(TStream &Source, int64_t Count) {
    if (Count == 0) {
        Source.SetPosition(0);
        Count = Source.Size();
    }
    if (Count < 0)
        RaiseReadError();
    const int32_t chunkSize = 0xF000;
    std::vector<unsigned char> buffer(static_cast<size_t>(Count < chunkSize ? Count : chunkSize));
    int64_t result = Count;
    while (Count > 0) {
        int32_t n = Count < chunkSize ? static_cast<int32_t>(Count) : chunkSize;
        Source.ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        Count -= n;
    }
    return result;
}

namespace {
template <class T> T ReadLittleEndian(TStream &stream) {
    unsigned char bytes[sizeof(T)];
    stream.ReadBuffer(bytes, sizeof(T));
    uint64_t value = 0;
    for (size_t i = sizeof(T); i-- > 0;)
        value = (value << 8) | bytes[i];
    return static_cast<T>(value);
}
template <class T> void WriteLittleEndian(TStream &stream, T value) {
    unsigned char bytes[sizeof(T)];
    uint64_t v = static_cast<uint64_t>(value);
    for (size_t i = 0; i < sizeof(T); ++i) {
        bytes[i] = static_cast<unsigned char>(v);
        v >>= 8;
    }
    stream.WriteBuffer(bytes, sizeof(T));
}
} // namespace

uint8_t TStream::ReadUInt8() {
    return ReadLittleEndian<uint8_t>(*this);
}
int8_t TStream::ReadInt8() {
    return static_cast<int8_t>(ReadLittleEndian<uint8_t>(*this));
}
uint16_t TStream::ReadUInt16() {
    return ReadLittleEndian<uint16_t>(*this);
}
int16_t TStream::ReadInt16() {
    return static_cast<int16_t>(ReadLittleEndian<uint16_t>(*this));
}
uint32_t TStream::ReadUInt32() {
    return ReadLittleEndian<uint32_t>(*this);
}
int32_t TStream::ReadInt32() {
    return static_cast<int32_t>(ReadLittleEndian<uint32_t>(*this));
}
uint64_t TStream::ReadUInt64() {
    return ReadLittleEndian<uint64_t>(*this);
}
int64_t TStream::ReadInt64() {
    return static_cast<int64_t>(ReadLittleEndian<uint64_t>(*this));
}

float TStream::ReadFloat32() {
    uint32_t bits = ReadUInt32();
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

double TStream::ReadFloat64() {
    uint64_t bits = ReadUInt64();
    double value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

long double TStream::ReadFloat80() {
    unsigned char bytes[16] = {};
    ReadBuffer(bytes, 10);
    long double value = 0;
    std::memcpy(&value, bytes, sizeof(value) < 10 ? sizeof(value) : 10);
    return value;
}

void TStream::WriteUInt8(uint8_t Value) {
    WriteLittleEndian(*this, Value);
}
void TStream::WriteInt8(int8_t Value) {
    WriteLittleEndian(*this, static_cast<uint8_t>(Value));
}
void TStream::WriteUInt16(uint16_t Value) {
    WriteLittleEndian(*this, Value);
}
void TStream::WriteInt16(int16_t Value) {
    WriteLittleEndian(*this, static_cast<uint16_t>(Value));
}
void TStream::WriteUInt32(uint32_t Value) {
    WriteLittleEndian(*this, Value);
}
void TStream::WriteInt32(int32_t Value) {
    WriteLittleEndian(*this, static_cast<uint32_t>(Value));
}
void TStream::WriteUInt64(uint64_t Value) {
    WriteLittleEndian(*this, Value);
}
void TStream::WriteInt64(int64_t Value) {
    WriteLittleEndian(*this, static_cast<uint64_t>(Value));
}

void TStream::WriteFloat32(float Value) {
    uint32_t bits;
    std::memcpy(&bits, &Value, sizeof(bits));
    WriteUInt32(bits);
}

void TStream::WriteFloat64(double Value) {
    uint64_t bits;
    std::memcpy(&bits, &Value, sizeof(bits));
    WriteUInt64(bits);
}

void TStream::WriteFloat80(long double Value) {
    unsigned char bytes[16] = {};
    std::memcpy(bytes, &Value, sizeof(Value) < 10 ? sizeof(Value) : 10);
    WriteBuffer(bytes, 10);
}

void TStream::CheckLength(int64_t Length, int64_t Cap) {
    if (Length < 0 || Length > Cap || Length > Remaining())
        RaiseReadError();
}

std::string TStream::ReadString(int64_t Length, int64_t Cap) {
    if (Cap > INT32_MAX)
        Cap = INT32_MAX;
    CheckLength(Length, Cap);
    std::string result(static_cast<size_t>(Length), '\0');
    ReadBuffer(result.data(), static_cast<int32_t>(Length));
    return result;
}

void TStream::WriteString(const std::string &S) {
    if (S.size() > static_cast<size_t>(INT32_MAX))
        RaiseWriteError();
    WriteBuffer(S.data(), static_cast<int32_t>(S.size()));
}

// =============================================================================================
// Memory streams

namespace {
int64_t SeekTarget(int64_t offset, int origin, int64_t position, int64_t size) {
    switch (origin) {
    case soFromBeginning:
        return offset;
    case soFromCurrent:
        return position + offset;
    case soFromEnd:
        return size + offset;
    default:
        throw EStreamError("Invalid stream seek origin (%d)", origin);
    }
}

// Bytes that can be read from [position, size) for a request of count bytes.
int32_t Available(int64_t position, int64_t size, int32_t count) {
    if (position < 0 || count <= 0 || position >= size)
        return 0;
    int64_t rest = size - position;
    return rest < count ? static_cast<int32_t>(rest) : count;
}
} // namespace

void TCustomMemoryStream::SetPointer(void *Ptr, int64_t Size) {
    FMemory = Ptr;
    FSize = Size;
}

int32_t TCustomMemoryStream::Read(void *Buffer, int32_t Count) {
    int32_t n = Available(FPosition, FSize, Count);
    if (n > 0) {
        std::memcpy(Buffer, static_cast<const char *>(FMemory) + FPosition, static_cast<size_t>(n));
        FPosition += n;
    }
    return n;
}

int32_t TCustomMemoryStream::Write(const void *, int32_t) {
    return 0;
}

int64_t TCustomMemoryStream::Seek(int64_t Offset, int Origin) {
    int64_t target = SeekTarget(Offset, Origin, FPosition, FSize);
    if (target < 0)
        throw EStreamError("Stream seek error");
    FPosition = target;
    return FPosition;
}

void TCustomMemoryStream::SaveToStream(TStream &Stream) {
    int64_t done = 0;
    while (done < FSize) {
        int64_t rest = FSize - done;
        int32_t n = rest > 0x40000000 ? 0x40000000 : static_cast<int32_t>(rest);
        Stream.WriteBuffer(static_cast<const char *>(FMemory) + done, n);
        done += n;
    }
}

void TCustomMemoryStream::SaveToFile(const std::string &FileName) {
    TFileStream stream(FileName, fmCreate);
    SaveToStream(stream);
}

TMemoryStream::~TMemoryStream() {
    std::free(Memory());
}

void TMemoryStream::Reallocate(int64_t NewCapacity) {
    if (NewCapacity == FCapacity)
        return;
    if (NewCapacity < 0 || static_cast<uint64_t>(NewCapacity) > std::numeric_limits<size_t>::max() / 2)
        throw EOutOfMemory("Out of memory");
    if (NewCapacity == 0) {
        std::free(Memory());
        SetPointer(nullptr, 0);
        FCapacity = 0;
        return;
    }
    void *block = std::realloc(Memory(), static_cast<size_t>(NewCapacity));
    if (!block)
        throw EOutOfMemory("Out of memory");
    int64_t size = Size() < NewCapacity ? Size() : NewCapacity;
    SetPointer(block, size);
    FCapacity = NewCapacity;
}

void TMemoryStream::SetCapacity(int64_t NewCapacity) {
    if (NewCapacity < Size())
        NewCapacity = Size();
    Reallocate(NewCapacity);
}

void TMemoryStream::SetSize(int64_t NewSize) {
    if (NewSize < 0)
        throw EStreamError("Stream size error");
    if (NewSize > FCapacity)
        Reallocate((NewSize + 0x1FFF) & ~static_cast<int64_t>(0x1FFF));
    int64_t oldSize = Size();
    if (NewSize > oldSize) // growth reads as zeros, never stale memory
        std::memset(static_cast<char *>(Memory()) + oldSize, 0, static_cast<size_t>(NewSize - oldSize));
    SetPointer(Memory(), NewSize);
    if (FPosition > NewSize)
        FPosition = NewSize;
}

int32_t TMemoryStream::Write(const void *Buffer, int32_t Count) {
    if (FPosition < 0 || Count <= 0)
        return 0;
    int64_t end = FPosition + Count;
    if (end > FCapacity) {
        // Growing by half the current size keeps a long series of small writes linear.
        int64_t grown = FCapacity + FCapacity / 2;
        int64_t wanted = end > grown ? end : grown;
        Reallocate((wanted + 0x1FFF) & ~static_cast<int64_t>(0x1FFF));
    }
    if (FPosition > Size()) // a gap after a seek beyond the end reads as zeros
        std::memset(static_cast<char *>(Memory()) + Size(), 0, static_cast<size_t>(FPosition - Size()));
    if (end > Size())
        SetPointer(Memory(), end);
    std::memcpy(static_cast<char *>(Memory()) + FPosition, Buffer, static_cast<size_t>(Count));
    FPosition = end;
    return Count;
}

void TMemoryStream::Clear() {
    Reallocate(0);
    FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream &Stream) {
    Stream.SetPosition(0);
    int64_t count = Stream.Size();
    SetSize(count);
    int64_t done = 0;
    while (done < count) {
        int64_t rest = count - done;
        int32_t n = rest > 0x40000000 ? 0x40000000 : static_cast<int32_t>(rest);
        Stream.ReadBuffer(static_cast<char *>(Memory()) + done, n);
        done += n;
    }
    FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string &FileName) {
    TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

int32_t TStringStream::Read(void *Buffer, int32_t Count) {
    int32_t n = Available(FPosition, Size(), Count);
    if (n > 0) {
        std::memcpy(Buffer, FData.data() + FPosition, static_cast<size_t>(n));
        FPosition += n;
    }
    return n;
}

int32_t TStringStream::Write(const void *Buffer, int32_t Count) {
    if (FPosition < 0 || Count <= 0)
        return 0;
    size_t pos = static_cast<size_t>(FPosition);
    if (pos > FData.size())
        FData.resize(pos, '\0');
    FData.replace(pos, std::min(FData.size() - pos, static_cast<size_t>(Count)),
                  static_cast<const char *>(Buffer), static_cast<size_t>(Count));
    FPosition += Count;
    return Count;
}

int64_t TStringStream::Seek(int64_t Offset, int Origin) {
    int64_t target = SeekTarget(Offset, Origin, FPosition, Size());
    if (target < 0)
        throw EStreamError("Stream seek error");
    FPosition = target;
    return FPosition;
}

void TStringStream::SetSize(int64_t NewSize) {
    if (NewSize < 0 || NewSize > INT32_MAX)
        throw EStreamError("Stream size error");
    FData.resize(static_cast<size_t>(NewSize));
    if (FPosition > NewSize)
        FPosition = NewSize;
}

// =============================================================================================
// TStrings

void TStrings::SetStrings(int Index, const std::string &S) {
    TObject *object = Objects(Index);
    BeginUpdate();
    try {
        Delete(Index);
        InsertObject(Index, S, object);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

TObject *TStrings::Objects(int) const {
    return nullptr;
}

void TStrings::PutObject(int, TObject *) {}

int TStrings::Add(const std::string &S) {
    int index = Count();
    Insert(index, S);
    return index;
}

void TStrings::Exchange(int Index1, int Index2) {
    std::string s1 = Strings(Index1), s2 = Strings(Index2);
    TObject *o1 = Objects(Index1), *o2 = Objects(Index2);
    BeginUpdate();
    try {
        SetStrings(Index1, s2);
        PutObject(Index1, o2);
        SetStrings(Index2, s1);
        PutObject(Index2, o1);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

int TStrings::IndexOf(const std::string &S) const {
    for (int i = 0, n = Count(); i < n; ++i)
        if (CompareStrings(Strings(i), S) == 0)
            return i;
    return -1;
}

int TStrings::AddObject(const std::string &S, TObject *AObject) {
    int index = Add(S);
    PutObject(index, AObject);
    return index;
}

void TStrings::InsertObject(int Index, const std::string &S, TObject *AObject) {
    Insert(Index, S);
    PutObject(Index, AObject);
}

void TStrings::AddStrings(const TStrings &Strings) {
    BeginUpdate();
    try {
        for (int i = 0, n = Strings.Count(); i < n; ++i)
            AddObject(Strings.Strings(i), Strings.Objects(i));
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TStrings::Assign(const TStrings &Source) {
    if (&Source == this)
        return;
    BeginUpdate();
    try {
        Clear();
        AddStrings(Source);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TStrings::Move(int CurIndex, int NewIndex) {
    if (CurIndex == NewIndex)
        return;
    BeginUpdate();
    try {
        std::string s = Strings(CurIndex);
        TObject *object = Objects(CurIndex);
        Delete(CurIndex);
        InsertObject(NewIndex, s, object);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

int TStrings::IndexOfObject(const TObject *AObject) const {
    for (int i = 0, n = Count(); i < n; ++i)
        if (Objects(i) == AObject)
            return i;
    return -1;
}

bool TStrings::Equals(const TStrings &Other) const {
    int n = Count();
    if (n != Other.Count())
        return false;
    for (int i = 0; i < n; ++i)
        if (Strings(i) != Other.Strings(i))
            return false;
    return true;
}

std::string TStrings::Text() const {
    std::string text;
    for (int i = 0, n = Count(); i < n; ++i) {
        text += Strings(i);
        text += "\r\n";
    }
    return text;
}

void TStrings::SetText(const std::string &Value) {
    BeginUpdate();
    try {
        Clear();
        size_t i = 0, n = Value.size();
        while (i < n) {
            size_t start = i;
            while (i < n && Value[i] != '\r' && Value[i] != '\n')
                ++i;
            Add(Value.substr(start, i - start));
            if (i < n && Value[i] == '\r')
                ++i;
            if (i < n && Value[i] == '\n')
                ++i;
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

std::string TStrings::Names(int Index) const {
    std::string s = Strings(Index);
    size_t eq = s.find('=');
    return eq == std::string::npos ? std::string() : s.substr(0, eq);
}

std::string TStrings::ValueFromIndex(int Index) const {
    std::string s = Strings(Index);
    size_t eq = s.find('=');
    return eq == std::string::npos ? std::string() : s.substr(eq + 1);
}

int TStrings::IndexOfName(const std::string &Name) const {
    for (int i = 0, n = Count(); i < n; ++i) {
        std::string s = Strings(i);
        size_t eq = s.find('=');
        if (eq != std::string::npos && CompareStrings(s.substr(0, eq), Name) == 0)
            return i;
    }
    return -1;
}

std::string TStrings::Values(const std::string &Name) const {
    int index = IndexOfName(Name);
    return index >= 0 ? ValueFromIndex(index) : std::string();
}

void TStrings::SetValues(const std::string &Name, const std::string &Value) {
    int index = IndexOfName(Name);
    if (!Value.empty()) {
        if (index < 0)
            Add(Name + "=" + Value);
        else
            SetStrings(index, Name + "=" + Value);
    } else if (index >= 0) {
        Delete(index);
    }
}

void TStrings::BeginUpdate() {
    // The state changes while the count is still 0, so a list notifies that a change begins.
    if (FUpdateCount == 0)
        SetUpdateState(true);
    ++FUpdateCount;
}

void TStrings::EndUpdate() {
    if (FUpdateCount > 0 && --FUpdateCount == 0)
        SetUpdateState(false);
}

void TStrings::LoadFromStream(TStream &Stream) {
    int64_t rest = Stream.Remaining();
    if (rest > INT32_MAX)
        throw EReadError("Stream read error");
    std::string text(static_cast<size_t>(rest), '\0');
    Stream.ReadBuffer(text.data(), static_cast<int32_t>(rest));
    SetText(text);
}

void TStrings::SaveToStream(TStream &Stream) const {
    Stream.WriteString(Text());
}

void TStrings::LoadFromFile(const std::string &FileName) {
    TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

void TStrings::SaveToFile(const std::string &FileName) const {
    TFileStream stream(FileName, fmCreate);
    SaveToStream(stream);
}

int TStrings::CompareStrings(const std::string &S1, const std::string &S2) const {
    return CompareText(S1, S2);
}

// =============================================================================================
// TStringList

void TStringList::CheckIndex(int Index) const {
    if (Index < 0 || Index >= Count())
        RaiseListIndexError(Index);
}

std::string TStringList::Strings(int Index) const {
    CheckIndex(Index);
    return FItems[Index].FString;
}

void TStringList::SetStrings(int Index, const std::string &S) {
    if (FSorted)
        throw EStringListError("Operation not allowed on sorted list");
    CheckIndex(Index);
    Changing();
    FItems[Index].FString = S;
    Changed();
}

TObject *TStringList::Objects(int Index) const {
    CheckIndex(Index);
    return FItems[Index].FObject;
}

void TStringList::PutObject(int Index, TObject *AObject) {
    CheckIndex(Index);
    Changing();
    FItems[Index].FObject = AObject;
    Changed();
}

void TStringList::InsertItem(int Index, const std::string &S, TObject *AObject) {
    Changing();
    FItems.insert(FItems.begin() + Index, TStringItem{S, AObject});
    Changed();
}

int TStringList::Add(const std::string &S) {
    int index;
    if (!FSorted) {
        index = Count();
    } else if (Find(S, index)) {
        switch (FDuplicates) {
        case dupIgnore:
            return index;
        case dupError:
            throw EStringListError("String list does not allow duplicates");
        case dupAccept:
            break;
        }
    }
    InsertItem(index, S, nullptr);
    return index;
}

void TStringList::Insert(int Index, const std::string &S) {
    if (FSorted)
        throw EStringListError("Operation not allowed on sorted list");
    if (Index < 0 || Index > Count())
        RaiseListIndexError(Index);
    InsertItem(Index, S, nullptr);
}

void TStringList::Delete(int Index) {
    CheckIndex(Index);
    Changing();
    FItems.erase(FItems.begin() + Index);
    Changed();
}

void TStringList::Clear() {
    if (FItems.empty())
        return;
    Changing();
    FItems.clear();
    Changed();
}

void TStringList::Exchange(int Index1, int Index2) {
    CheckIndex(Index1);
    CheckIndex(Index2);
    Changing();
    std::swap(FItems[Index1], FItems[Index2]);
    Changed();
}

int TStringList::IndexOf(const std::string &S) const {
    if (!FSorted)
        return TStrings::IndexOf(S);
    int index;
    return Find(S, index) ? index : -1;
}

void TStringList::SetText(const std::string &Value) {
    TStrings::SetText(Value);
}

void TStringList::Assign(const TStrings &Source) {
    TStrings::Assign(Source);
}

bool TStringList::Find(const std::string &S, int &Index) const {
    if (!FSorted) {
        Index = TStrings::IndexOf(S);
        if (Index >= 0)
            return true;
        Index = Count();
        return false;
    }
    // The first of equal entries, so that IndexOf gives the lowest index.
    int lo = 0, hi = Count() - 1;
    bool found = false;
    while (lo <= hi) {
        int mid = lo + (hi - lo) / 2;
        int c = CompareStrings(FItems[mid].FString, S);
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            if (c == 0)
                found = true;
        }
    }
    Index = lo;
    return found;
}

void TStringList::Sort() {
    Changing();
    MergeSortItems(FItems, [this](const TStringItem &a, const TStringItem &b) {
        return CompareStrings(a.FString, b.FString) < 0;
    });
    Changed();
}

void TStringList::CustomSort(TStringListSortCompare Compare) {
    if (FSorted || Count() < 2)
        return;
    // Compare works with indexes into the list, so the order is found first on a list of
    // indexes and then applied.
    std::vector<int> order(FItems.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<int>(i);
    MergeSortItems(order, [&](int a, int b) { return Compare(*this, a, b) < 0; });
    std::vector<TStringItem> sorted;
    sorted.reserve(FItems.size());
    for (int i : order)
        sorted.push_back(std::move(FItems[i]));
    Changing();
    FItems.swap(sorted);
    Changed();
}

void TStringList::SetSorted(bool Value) {
    if (FSorted == Value)
        return;
    if (Value)
        Sort();
    FSorted = Value;
}

void TStringList::SetCaseSensitive(bool Value) {
    if (FCaseSensitive == Value)
        return;
    FCaseSensitive = Value;
    if (FSorted)
        Sort();
}

int TStringList::CompareStrings(const std::string &S1, const std::string &S2) const {
    return FCaseSensitive ? CompareStr(S1, S2) : CompareText(S1, S2);
}

void TStringList::SetUpdateState(bool Updating) {
    if (Updating)
        Changing();
    else
        Changed();
}

void TStringList::Changed() {
    if (UpdateCount() == 0)
        OnChange(this);
}

void TStringList::Changing() {
    if (UpdateCount() == 0)
        OnChanging(this);
}
