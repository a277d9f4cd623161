#include "GenJPEG.h"

#include <csetjmp>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

#include "SysUtils.h"

namespace {
constexpr std::size_t BufferSize = 4096;
} // namespace

struct TJPEGCompressor::TState {
    jpeg_compress_struct Info{};
    jpeg_error_mgr Errors{};
    jpeg_destination_mgr Destination{};
    JOCTET *Buffer = nullptr;
    TStream *Stream = nullptr;
    std::jmp_buf Jump;
    bool Created = false;
};

namespace {

using TState = TJPEGCompressor::TState;

TState &StateOf(j_common_ptr Info) {
    return *static_cast<TState *>(Info->client_data);
}

// The library's error exit: back to the guarded call that entered the library. Nothing with a
// destructor is alive between here and there.
[[noreturn]] void JPEGErrorExit(j_common_ptr Info) {
    std::longjmp(StateOf(Info).Jump, 1);
}
void JPEGOutputMessage(j_common_ptr) {}
void JPEGEmitMessage(j_common_ptr, int) {}
void JPEGResetErrorMgr(j_common_ptr Info) {
    Info->err->num_warnings = 0;
    Info->err->msg_code = 0;
}

// Writes Count bytes of the buffer; false when the stream stored fewer or raised. The stream's
// exception is caught here, inside the library's callback, and becomes a library error.
bool WriteBufferToStream(TState &State, std::size_t Count) {
    try {
        return State.Stream->Write(State.Buffer, static_cast<std::int32_t>(Count)) ==
               static_cast<std::int32_t>(Count);
    } catch (...) {
        return false;
    }
}

void JPEGInitDestination(j_compress_ptr Info) {
    TState &state = StateOf(reinterpret_cast<j_common_ptr>(Info));
    state.Buffer = static_cast<JOCTET *>(
        (*Info->mem->alloc_small)(reinterpret_cast<j_common_ptr>(Info), JPOOL_IMAGE, BufferSize));
    Info->dest->next_output_byte = state.Buffer;
    Info->dest->free_in_buffer = BufferSize;
}

boolean JPEGEmptyBuffer(j_compress_ptr Info) {
    TState &state = StateOf(reinterpret_cast<j_common_ptr>(Info));
    if (!WriteBufferToStream(state, BufferSize))
        ERREXIT(Info, JERR_FILE_WRITE);
    Info->dest->next_output_byte = state.Buffer;
    Info->dest->free_in_buffer = BufferSize;
    return TRUE;
}

void JPEGTermDestination(j_compress_ptr Info) {
    TState &state = StateOf(reinterpret_cast<j_common_ptr>(Info));
    const std::size_t count = BufferSize - Info->dest->free_in_buffer;
    if (count && !WriteBufferToStream(state, count))
        ERREXIT(Info, JERR_FILE_WRITE);
}

// The calls into the library, each behind its own setjmp. These functions hold no object with
// a destructor, so the longjmp of the error exit skips nothing that needs to run.
bool GuardedCreate(TState &State) {
    if (setjmp(State.Jump))
        return false;
    jpeg_create_compress(&State.Info);
    State.Created = true;
    return true;
}

bool GuardedStart(TState &State, JDIMENSION Width, JDIMENSION Height, int Quality) {
    if (setjmp(State.Jump))
        return false;
    State.Info.dest = &State.Destination;
    State.Info.image_width = Width;
    State.Info.image_height = Height;
    State.Info.input_components = 3;
    // This library build takes the rows in the order they come: blue, green, red.
    State.Info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&State.Info);
    jpeg_set_quality(&State.Info, Quality, TRUE);
    jpeg_start_compress(&State.Info, TRUE);
    return true;
}

bool GuardedWriteRow(TState &State, const std::uint8_t *Row, bool Finish) {
    if (setjmp(State.Jump))
        return false;
    JSAMPROW rows[1] = {const_cast<JSAMPROW>(Row)};
    jpeg_write_scanlines(&State.Info, rows, 1);
    if (Finish)
        jpeg_finish_compress(&State.Info);
    return true;
}

[[noreturn]] void RaiseJPEGError() {
    throw EWriteError("JPEG Error");
}

} // namespace

TJPEGCompressor::TJPEGCompressor(TStream &AStream) : Stream(&AStream) {}

TJPEGCompressor::~TJPEGCompressor() {
    if (Compression && Compression->Created)
        jpeg_destroy_compress(&Compression->Info); // never calls the error exit
}

void TJPEGCompressor::StartCompress() {
    Compression = std::make_unique<TState>();
    TState &state = *Compression;
    state.Stream = Stream;
    state.Info.err = jpeg_std_error(&state.Errors);
    state.Errors.error_exit = JPEGErrorExit;
    state.Errors.output_message = JPEGOutputMessage;
    state.Errors.emit_message = JPEGEmitMessage;
    state.Errors.reset_error_mgr = JPEGResetErrorMgr;
    state.Info.client_data = &state;
    state.Destination.init_destination = JPEGInitDestination;
    state.Destination.empty_output_buffer = JPEGEmptyBuffer;
    state.Destination.term_destination = JPEGTermDestination;
    Started = true;
    if (!GuardedCreate(state))
        RaiseJPEGError();
    // jpeg_create_compress clears the structure except err; the client data is set again.
    state.Info.client_data = &state;
    if (!GuardedStart(state, static_cast<JDIMENSION>(Width), static_cast<JDIMENSION>(Height), Quality))
        RaiseJPEGError();
}

void TJPEGCompressor::WriteRow(const std::uint8_t *Row) {
    if (!Started)
        StartCompress();
    const bool last = Compression->Info.next_scanline + 1 >= static_cast<JDIMENSION>(Height);
    if (!GuardedWriteRow(*Compression, Row, last))
        RaiseJPEGError();
}
