#include "rawdecode/raw_piece_threads.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <system_error>
#include <string>
#include <thread>
#include <vector>

#include "rawdecode/raw_failure.h"

namespace {

// A worker's context: what placing pixels and reading lossless JPEG need
// of the file's context, with the pixel buffer borrowed (released, never
// freed, when the worker ends).
struct piece_worker {
  std::unique_ptr<raw_decode_context> ctx;
  explicit piece_worker(const raw_decode_context* main) : ctx(raw_context_create()) {
    raw_decode_context* w = ctx.get();
    w->message_name = main->message_name;
    w->options.shot_index = main->options.shot_index;
    w->byte_order = main->byte_order;
    w->dng_version_code = main->dng_version_code;
    w->ff00_stuffing = main->ff00_stuffing;
    w->cfa_pattern = main->cfa_pattern;
    w->raw_image_count = main->raw_image_count;
    w->samples_per_pixel = main->samples_per_pixel;
    w->bits_per_sample = main->bits_per_sample;
    w->sensor_height = main->sensor_height, w->sensor_width = main->sensor_width;
    w->image_height = main->image_height, w->image_width = main->image_width;
    w->top_margin = main->top_margin, w->left_margin = main->left_margin;
    w->shrink_factor = main->shrink_factor;
    w->buffer_height = main->buffer_height, w->buffer_width = main->buffer_width;
    w->fuji_diagonal_width = main->fuji_diagonal_width;
    w->colour_count = main->colour_count;
    memcpy(w->tone_curve, main->tone_curve, sizeof w->tone_curve);
    if (main->linear_table_count) {
      w->linear_table = raw_alloc<uint16_t>(w, main->linear_table_count, "raw_decode_pieces()");
      memcpy(w->linear_table.get(), main->linear_table.get(), main->linear_table_count * sizeof(uint16_t));
      w->linear_table_count = main->linear_table_count;
    }
    w->pixels.reset(main->pixels.get());
    w->pixel_count = main->pixel_count;
  }
  ~piece_worker() { (void)ctx->pixels.release(); }
  piece_worker(const piece_worker&) = delete;
  piece_worker& operator=(const piece_worker&) = delete;
};

// The first line of a context's message log.
std::string first_line(const std::string& log) {
  size_t end = log.find('\n');
  return end == std::string::npos ? log : log.substr(0, end + 1);
}

}  // namespace

int raw_piece_thread_count(const raw_decode_context* ctx, size_t pieces) {
  int threads = ctx->options.decode_threads;
  if (threads <= 0) threads = std::min(8, int(std::max(1u, std::thread::hardware_concurrency())));
  if (size_t(threads) > pieces) threads = int(std::max<size_t>(pieces, 1));
  return threads;
}

void raw_decode_pieces(raw_decode_context* ctx, raw_segment_plan& plan, int threads, raw_piece_decoder decode) {
  const size_t n = plan.offsets.size();
  // Each piece's first data error, by piece: reading is sequential here,
  // decoding is not, and the file's message must be the one a decode in
  // piece order meets first.
  std::vector<std::string> errors(n);
  std::vector<std::vector<uint8_t>> bytes(n);
  std::vector<char> readable(n, 0);
  const bool reported_before = ctx->data_error_reported != 0;
  for (size_t i = 0; i < n; ++i) {
    const size_t mark = ctx->message_log.size();
    const int was = ctx->data_error_reported;
    ctx->data_error_reported = 0;
    readable[i] = raw_segment_bytes(ctx, plan, i, UINT64_MAX, &bytes[i]);
    if (ctx->data_error_reported) {
      try {
        errors[i] = first_line(ctx->message_log.substr(mark));
      } catch (const std::bad_alloc&) {
        report_out_of_memory(ctx, nullptr, "raw_decode_pieces()");
      }
      ctx->message_log.resize(mark);
    }
    ctx->data_error_reported = was;
  }

  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};  // a failure ends the decode: no more pieces are begun
  std::vector<std::exception_ptr> failures(n);
  std::vector<std::string> failure_texts(n);
  auto work = [&] {
    std::unique_ptr<piece_worker> worker;
    try {
      worker = std::make_unique<piece_worker>(ctx);
    } catch (...) {
      // No worker: the pieces this thread would take are taken by others,
      // or the failure below is met by the calling thread's own worker.
      return;
    }
    raw_decode_context* w = worker->ctx.get();
    for (size_t i; !failed.load() && (i = next.fetch_add(1)) < n;) {
      if (!readable[i]) continue;
      w->data_error_reported = 0;
      w->message_log.clear();
      // Nothing may leave a worker thread: whatever a piece throws (a
      // failure of the decoder, or the run time's bad_alloc) ends the decode
      // as a failure of that piece.
      try {
        raw_piece_reader reader(w, bytes[i], plan.offsets[i]);
        decode(w, plan, i);
        if (w->data_error_reported && errors[i].empty()) errors[i] = first_line(w->message_log);
      } catch (...) {
        failures[i] = std::current_exception();
        try {
          failure_texts[i] = w->message_text;
        } catch (...) {
          failure_texts[i].clear();  // the text of the failure made after the join
        }
        failed = true;
      }
    }
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) {
    try {
      pool.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer threads than asked: the others do the work
    }
  }
  work();  // the calling thread is a worker too
  for (std::thread& t : pool) t.join();

  // As in piece order: the first failure ends the decode, after the data
  // errors of the pieces before it.
  for (size_t i = 0; i < n; ++i) {
    if (!errors[i].empty() && !reported_before && !ctx->data_error_reported) {
      ctx->data_error_reported = 1;
      raw_message(ctx, "%s", errors[i].c_str());
    }
    if (failures[i]) raw_rethrow_as_failure(ctx, failures[i], failure_texts[i], "raw_decode_pieces()");
  }
  // A piece no worker could take (no worker could be made at all).
  if (!failed.load() && next.load() < n) report_out_of_memory(ctx, nullptr, "raw_decode_pieces()");
}

int raw_row_band_count(const raw_decode_context* ctx, int rows) {
  return raw_piece_thread_count(ctx, size_t(std::max(rows, 0) / 64));
}

void raw_rethrow_as_failure(raw_decode_context* ctx, const std::exception_ptr& caught, const std::string& text,
                            const char* place) {
  try {
    std::rethrow_exception(caught);
  } catch (const raw_failure&) {
    ctx->message_text = text;
    if (!text.empty()) raw_message(ctx, "%s", text.c_str());
    throw;
  } catch (...) {
    // bad_alloc or anything else the run time threw: the decoder's own
    // out-of-memory failure, with its message.
  }
  report_out_of_memory(ctx, nullptr, place);
  __builtin_unreachable();  // a null pointer always throws
}

void raw_run_row_bands(raw_decode_context* ctx, int rows, int bands, const char* place,
                       const std::function<void(int, int, int)>& work) {
  if (rows <= 0) return;
  bands = std::clamp(bands, 1, rows);
  auto first = [&](int band) { return int(int64_t(rows) * band / bands); };
  // What each band threw, raised on the calling thread once every band has
  // ended: an exception must never leave a thread (that ends the process),
  // nor the call while a band still writes the pixels.
  std::vector<std::exception_ptr> thrown{size_t(bands)};
  auto guarded = [&](int band) {
    try {
      work(first(band), first(band + 1), band);
    } catch (...) {
      thrown[size_t(band)] = std::current_exception();
    }
  };
  std::vector<std::thread> workers;
  for (int band = 1; band < bands; ++band) {
    try {
      workers.emplace_back(guarded, band);
    } catch (const std::system_error&) {
      guarded(band);  // no thread to be had: this one does it
    } catch (const std::bad_alloc&) {
      guarded(band);
    }
  }
  guarded(0);
  for (auto& w : workers) w.join();
  for (const std::exception_ptr& e : thrown) {
    if (!e) continue;
    try {
      std::rethrow_exception(e);
    } catch (const raw_failure&) {
      throw;  // its message is in the context already
    } catch (...) {
    }
    report_out_of_memory(ctx, nullptr, place);
  }
}
