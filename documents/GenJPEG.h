// A small wrapper over the IJG JPEG library that compresses rows into a stream.
//
// The library reports errors through a callback that must not return; the wrapper turns them
// into a longjmp back to the call that entered the library and raises EWriteError "JPEG Error"
// only there, so that no C++ exception ever unwinds through the library's frames.
#pragma once

#include <cstdint>
#include <memory>

#include "Classes.h"

class TJPEGCompressor : public TObject {
public:
    explicit TJPEGCompressor(TStream &AStream);
    ~TJPEGCompressor() override;
    DECLARE_CLASS_NAME(TJPEGCompressor)

    // Compresses one row of Width pixels, 3 bytes each in the order blue, green, red. The first
    // call starts the compression; the call of row Height finishes it (the stream then holds the
    // whole file). Raises EWriteError "JPEG Error" on any error of the library or the stream.
    void WriteRow(const std::uint8_t *Row);

    struct TState; // the library's compression state with its error and destination managers
    std::unique_ptr<TState> Compression; // created on the first row
    std::int32_t Height = 0;
    bool Started = false;
    std::int32_t Quality = 80; // 1..100
    TStream *Stream;           // not owned
    std::int32_t Width = 0;

private:
    void StartCompress();
};
