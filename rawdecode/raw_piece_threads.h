// Decoding the strips or tiles of one file on several threads. Every worker
// has a context of its own (bit reader, Huffman pool, stream over the piece
// in memory) and shares only the pixel buffer, into which each piece writes
// its own part of the frame. Messages and failures come out as a sequential
// decode gives them: the first data error by piece order, the first failure
// by piece order.
#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <string>

#include "rawdecode/raw_context.h"
#include "rawdecode/raw_segments.h"

// Decodes one piece; the context reads the piece's bytes from their start.
typedef void (*raw_piece_decoder)(raw_decode_context* ctx, const raw_segment_plan& plan, size_t piece);

// The number of workers a decode of `pieces` pieces uses: the caller's
// choice (options.decode_threads; 0 asks for one per processor, at most 8),
// never more than the pieces.
int raw_piece_thread_count(const raw_decode_context* ctx, size_t pieces);

// Reads every piece (in order, through the context's stream) and decodes
// them on `threads` workers.
void raw_decode_pieces(raw_decode_context* ctx, raw_segment_plan& plan, int threads, raw_piece_decoder decode);

// Runs `work(first_row, end_row, band)` over `rows` rows cut into bands of
// consecutive rows, one band per decoder thread (raw_piece_thread_count,
// at least 64 rows a band), band 0 on the calling thread. Only for passes
// whose rows depend on nothing another band writes. Returns the bands used.
// Whatever a band throws ends the decode once every band has ended: the
// decoder's failures as they are, anything else (bad_alloc) as the
// out-of-memory failure of `place`.
int raw_row_band_count(const raw_decode_context* ctx, int rows);
void raw_run_row_bands(raw_decode_context* ctx, int rows, int bands, const char* place,
                       const std::function<void(int, int, int)>& work);

// Raises what a worker caught as the decoder's failure: a raw_failure again
// (its text `text` put back into the context), anything else as the
// out-of-memory failure of `place`.
[[noreturn]] void raw_rethrow_as_failure(raw_decode_context* ctx, const std::exception_ptr& caught,
                                         const std::string& text, const char* place);
