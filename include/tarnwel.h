/* tarnwel's codec as a C library: compress bytes into a tarnwel stream and
 * expand a stream back, with no files, no printing and no process-wide
 * state. Every call reports through a tarnwel_status; nothing aborts and
 * no exception crosses this interface.
 *
 * A stream is a bare sequence of codes of one width, 11 to 25 bits, and
 * does not record that width: the compressor chooses it and tells the
 * caller (tarnwel_compressor_width), and the caller hands it to the
 * expander. docs/format.md describes the stream; docs/library.md these calls.
 *
 * Nor does a stream record its length, and its bytes may not hold all of
 * its end code: the 0 to 7 bits of it that would begin a byte of their own
 * are not written, and the expander takes them from what follows the stream,
 * reading ones past the end of its input. So expand a stream alone. Bytes
 * after it are ignored only where its end code is whole or they begin with
 * as many one bits as it lacks; otherwise they turn the end code into
 * another code and are read as codes: the stream is then refused as
 * corrupt, or expands, with TARNWEL_OK, to the original followed by bytes
 * that were never compressed.
 *
 * Memory. A compressor made by tarnwel_compressor_create chooses the width
 * only once it has seen the whole input, so it cannot hand out a byte
 * before the input ends. Fed (tarnwel_compressor_feed), it keeps every byte
 * fed to it, and at finish compresses them, holding the input, the stream
 * and its dictionary at once. Stepped (tarnwel_compressor_step), it keeps
 * no copy of the input: the steps parse it as it comes, and it holds the
 * dictionary (which grows with what the input needs, up to 2^max_width
 * strings: at most 32 bytes a string while it grows, some hundreds of MiB
 * at 25), the list of codes shared by every width not yet ruled out (4
 * bytes a code, up to 2^max_width of them), up to 16 MiB of input blocks
 * that the parse at the chosen width follows behind, and the stream so far,
 * which it hands out once the input has ended. A compressor made by
 * tarnwel_compressor_create_width and stepped holds the dictionary of its
 * width alone (at most 32 bytes for each of its 2^width codes: 2 MiB at
 * width 16, 1 GiB at 25) and two fixed buffers, a 64 KiB block of input
 * and about 200 KiB for that block's codes: a bound set by the width,
 * whatever the input's length.
 *
 * The expander's tables are 8 bytes per code, 4 more for each code whose
 * string is longer than seven bytes, and a window of 4.5 times 2^width
 * bytes: at most 16.5 * 2^width bytes in all (528 MiB at width 25, 33 KiB
 * at width 11), reserved at tarnwel_expander_create and taken as the stream
 * reaches them. Fed, it keeps the stream fed to it and expands it at
 * finish, holding the stream, the output and its tables. Stepped
 * (tarnwel_expander_step), it holds the tables and less than 8 KiB besides,
 * whatever the stream's length: its window is also its output buffer.
 * tarnwel_compress_stream and tarnwel_expander_expand_stream, which read
 * and write through the caller's functions, hold neither input nor output.
 *
 * Threads. Objects are independent of each other: a process may run many
 * streams at once, on as many threads, as long as each object is used by
 * one thread at a time. Finishing an object, a compressor's step, and the
 * one-shot calls may start helper threads of the library's own, and join
 * them before returning; an expander's step starts none.
 *
 * Buffers. The library never keeps a pointer the caller passed: input is
 * copied when fed, output is copied out when taken. A pointer argument may
 * be null only where its size is 0, except the object and out-parameters,
 * which must not be null (a null one gives TARNWEL_BAD_ARGUMENT). */
#ifndef TARNWEL_H
#define TARNWEL_H

#include <stddef.h>

#define TARNWEL_VERSION_MAJOR 1
#define TARNWEL_VERSION_MINOR 1
#define TARNWEL_VERSION_PATCH 0
/* major * 10000 + minor * 100 + patch, as tarnwel_version() returns. */
#define TARNWEL_VERSION_NUMBER                                                                     \
    (TARNWEL_VERSION_MAJOR * 10000 + TARNWEL_VERSION_MINOR * 100 + TARNWEL_VERSION_PATCH)
#define TARNWEL_VERSION_STRING "1.1.0"

/* The narrowest and widest code widths, and the widest the command allows. */
#define TARNWEL_MIN_WIDTH 11
#define TARNWEL_MAX_WIDTH 25

/* What the library exports; everything else in it is hidden. */
#if defined(_WIN32)
#if defined(TARNWEL_SHARED_BUILD)
#define TARNWEL_API __declspec(dllexport)
#else
#define TARNWEL_API
#endif
#elif defined(__GNUC__)
#define TARNWEL_API __attribute__((visibility("default")))
#else
#define TARNWEL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef enum tarnwel_status {
    TARNWEL_OK = 0,
    /* A null pointer where one is not allowed; a step's buffer whose pos is
     * past its size, or whose size no object can have. */
    TARNWEL_BAD_ARGUMENT = 1,
    /* A width outside what the call takes (see each call). */
    TARNWEL_BAD_WIDTH = 2,
    /* A call out of order: feeding or finishing an object already finished;
     * stepping an object that was fed or finished, or feeding, finishing or
     * taking from one driven by steps; input after the input was said to
     * end. */
    TARNWEL_BAD_SEQUENCE = 3,
    /* Memory ran out; the object may be freed, and nothing else. */
    TARNWEL_OUT_OF_MEMORY = 4,
    /* The stream cannot have come from the compressor at this width. The
     * bytes expanded before the fault are still there to take. */
    TARNWEL_CORRUPT_STREAM = 5,
    /* A one-shot call's output buffer is too small; nothing useful in it. */
    TARNWEL_OUTPUT_TOO_SMALL = 6,
    /* A fault inside the library that is none of the above. */
    TARNWEL_INTERNAL_ERROR = 7,
    /* The caller's source or sink (tarnwel_source, tarnwel_sink) failed; the
     * caller's own record of it says why. */
    TARNWEL_READ_FAILED = 8,
    TARNWEL_WRITE_FAILED = 9
} tarnwel_status;

/* The status's name, as "TARNWEL_OK"; "unknown status" for a value that is
 * none of them. Never null; the text is static. */
TARNWEL_API const char* tarnwel_status_name(tarnwel_status status);

/* TARNWEL_VERSION_NUMBER of the library in use, which may differ from the
 * header's; and its TARNWEL_VERSION_STRING. */
TARNWEL_API int tarnwel_version(void);
TARNWEL_API const char* tarnwel_version_string(void);

/* ---- Compressing ---------------------------------------------------- */

typedef struct tarnwel_compressor tarnwel_compressor;

/* A compressor that will choose a width no wider than max_width (12 to 25;
 * the command uses 25). A smaller cap saves memory on large inputs at the
 * cost of compression. *compressor is null on any status but TARNWEL_OK. */
TARNWEL_API tarnwel_status tarnwel_compressor_create(int max_width,
                                                     tarnwel_compressor** compressor);

/* Adds size bytes to the input. Chunks of any size give the same stream. */
TARNWEL_API tarnwel_status tarnwel_compressor_feed(tarnwel_compressor* compressor, const void* data,
                                                   size_t size);

/* Ends the input and compresses it; the stream is then there to take. */
TARNWEL_API tarnwel_status tarnwel_compressor_finish(tarnwel_compressor* compressor);

/* Copies up to capacity bytes of the stream not yet taken into output, and
 * sets *taken to their count: 0 once all is taken, and always before
 * tarnwel_compressor_finish. */
TARNWEL_API tarnwel_status tarnwel_compressor_take(tarnwel_compressor* compressor, void* output,
                                                   size_t capacity, size_t* taken);

/* The width of the stream, 11 to 25: once finished, or once a step has
 * been told the input ends; from the start for a compressor made at a
 * width. 0 before, or for null. */
TARNWEL_API int tarnwel_compressor_width(const tarnwel_compressor* compressor);

/* Frees the compressor and all it holds, finished or not. Null is allowed. */
TARNWEL_API void tarnwel_compressor_free(tarnwel_compressor* compressor);

/* ---- Expanding ------------------------------------------------------ */

typedef struct tarnwel_expander tarnwel_expander;

/* An expander for a stream of the given width (11 to 25), with its tables:
 * address space for them is reserved here and memory taken as the codes
 * reach it. *expander is null on any status but TARNWEL_OK. */
TARNWEL_API tarnwel_status tarnwel_expander_create(int width, tarnwel_expander** expander);

/* Adds size bytes of the stream; chunks of any size expand the same. Feed
 * the stream and nothing after it (see the top of this file). */
TARNWEL_API tarnwel_status tarnwel_expander_feed(tarnwel_expander* expander, const void* data,
                                                 size_t size);

/* Ends the stream and expands it. Past its end it reads ones, which complete
 * the end code; a stream cut short (a code other than the end code reaching
 * past its end, or an end code lacking more than the 7 bits a compressor
 * leaves out) is TARNWEL_CORRUPT_STREAM. On TARNWEL_CORRUPT_STREAM the bytes
 * expanded before the fault are there to take: for a stream cut short,
 * those of its whole codes. */
TARNWEL_API tarnwel_status tarnwel_expander_finish(tarnwel_expander* expander);

/* As tarnwel_compressor_take, for the expanded bytes. */
TARNWEL_API tarnwel_status tarnwel_expander_take(tarnwel_expander* expander, void* output,
                                                 size_t capacity, size_t* taken);

/* Frees the expander and all it holds, finished or not. Null is allowed. */
TARNWEL_API void tarnwel_expander_free(tarnwel_expander* expander);

/* ---- One call each way ---------------------------------------------- */

/* The most bytes a stream of input_size bytes can take at any width, for
 * sizing tarnwel_compress's output; 0 when that does not fit a size_t. */
TARNWEL_API size_t tarnwel_compress_bound(size_t input_size);

/* Compresses input into output, which holds capacity bytes, with widths up
 * to max_width (12 to 25). Sets *output_size to the stream's size and
 * *width to its width. A capacity of tarnwel_compress_bound(input_size)
 * always suffices. */
TARNWEL_API tarnwel_status tarnwel_compress(const void* input, size_t input_size, void* output,
                                            size_t capacity, int max_width, size_t* output_size,
                                            int* width);

/* Expands a stream of the given width into output, which holds capacity
 * bytes. Sets *output_size to the bytes expanded; on TARNWEL_CORRUPT_STREAM
 * those before the fault are in output. */
TARNWEL_API tarnwel_status tarnwel_expand(const void* stream, size_t stream_size, int width,
                                          void* output, size_t capacity, size_t* output_size);

/* ---- Streaming through the caller's own I/O ------------------------- */

/* For a caller with a file, a pipe or a socket, who would rather not hold
 * the input in memory: the library reads through source and writes through
 * sink as it goes. The functions are called on the calling thread or on
 * one helper thread of the library's, one call at a time. */
typedef struct tarnwel_source {
    void* context;
    /* Fills buffer with up to capacity bytes and sets *got to their count,
     * 0 at the end of the input. Returns 0 on a failure, else nonzero. */
    int (*read)(void* context, void* buffer, size_t capacity, size_t* got);
    /* The bytes left to read where known ahead (a file), else -1: the
     * compressor plans its table from it. */
    long long size;
} tarnwel_source;

typedef struct tarnwel_sink {
    void* context;
    /* Writes size bytes at position. The compressor writes the stream of a
     * width it may still abandon and goes back to the front at the end, so
     * its sink must take any position (a file that can seek; a caller whose
     * output cannot stages the stream). The expander writes front to back,
     * each write where the last ended. Return 0 on a failure. */
    int (*write_at)(void* context, unsigned long long position, const void* data, size_t size);
    /* Cuts the output to size bytes (the compressor, at the end). */
    int (*truncate)(void* context, unsigned long long size);
    /* Hands on what the sink buffers. */
    int (*flush)(void* context);
} tarnwel_sink;

/* What a streaming compression tells besides its status. */
typedef struct tarnwel_compress_report {
    int width;                    /* the stream's width, once width_known */
    int width_known;              /* the search ended, whether or not the stream was then written */
    int last_trial_width;         /* the width of the last trial made */
    int last_trial_fit;           /* that trial ended without its dictionary overflowing */
    unsigned long long bytes_in;  /* read from the source */
    unsigned long long bytes_out; /* the stream's size, when done */
} tarnwel_compress_report;

/* Compresses source into sink with widths up to max_width (12 to 25),
 * reading the source once, and fills *report. trial_started, when not
 * null, is called with trial_context as each trial of the width search
 * begins, with its width, on the calling thread. On any status but
 * TARNWEL_OK the sink holds no stream, only parts of one written ahead,
 * for the caller to discard. */
TARNWEL_API tarnwel_status
tarnwel_compress_stream(const tarnwel_source* source, const tarnwel_sink* sink, int max_width,
                        void (*trial_started)(void* trial_context, int width), void* trial_context,
                        tarnwel_compress_report* report);

/* Expands source into sink with an expander that has been fed nothing (its
 * tables are made by tarnwel_expander_create, so running out of memory
 * shows there, before the caller opens its output). Sets *bytes_in and
 * *bytes_out, either of which may be null. The expander is then finished.
 * On TARNWEL_CORRUPT_STREAM the sink holds what was expanded before it; on
 * TARNWEL_READ_FAILED, what the codes read whole before the failure expand
 * to, a front part of the original. */
TARNWEL_API tarnwel_status tarnwel_expander_expand_stream(tarnwel_expander* expander,
                                                          const tarnwel_source* source,
                                                          const tarnwel_sink* sink,
                                                          unsigned long long* bytes_in,
                                                          unsigned long long* bytes_out);

/* ---- Streaming in steps ----------------------------------------------- */

/* For a caller that runs the loop itself (an event loop, a socket, a file
 * read piece by piece): each step takes what input it can from in and
 * writes what output fits in out, advancing in->pos and out->pos by what
 * it used, with buffers of any size, one byte included. The library keeps
 * no pointer to either buffer after the call. An object driven by steps is
 * not fed, finished or taken from, nor the other way round: mixing the two
 * gives TARNWEL_BAD_SEQUENCE. */
typedef struct tarnwel_in_buffer {
    const void* data; /* may be null where size is 0 */
    size_t size;
    size_t pos; /* bytes of data used; pos <= size */
} tarnwel_in_buffer;

typedef struct tarnwel_out_buffer {
    void* data; /* may be null where size is 0 */
    size_t size;
    size_t pos; /* bytes of data written; pos <= size */
} tarnwel_out_buffer;

/* A compressor at one width, 11 to 25, with no search: its stream comes out
 * through tarnwel_compressor_step as the input goes in, and expands at that
 * width. It is the stream the command writes when its search chooses that
 * width. tarnwel_compressor_width gives the width from the start. Fed and
 * finished instead, it compresses at that width too. *compressor is null
 * on any status but TARNWEL_OK. */
TARNWEL_API tarnwel_status tarnwel_compressor_create_width(int width,
                                                           tarnwel_compressor** compressor);

/* One step of compression. input_ends is nonzero once in holds the last of
 * the input; call again, with input_ends still set and nothing more in in,
 * until *done is 1: the whole stream has then been written to out, and
 * later steps write nothing. Once a step has been told the input ends,
 * input_ends must stay set, and once that step has taken all of in, a step
 * given more input returns TARNWEL_BAD_SEQUENCE.
 *
 * At a given width (tarnwel_compressor_create_width) the input is parsed a
 * 64 KiB block at a time, and a block's codes are handed out as out has
 * room; a step takes no more input while they wait, so it may leave some
 * of in for the next step. With the search (tarnwel_compressor_create),
 * every step takes all of in and writes nothing before the input ends; the
 * step told so chooses the width (tarnwel_compressor_width gives it from
 * then on) and starts handing out the stream. Either way the stream is the
 * same however in and out are cut. After a failure (TARNWEL_OUT_OF_MEMORY)
 * every step returns it again: free the object. */
TARNWEL_API tarnwel_status tarnwel_compressor_step(tarnwel_compressor* compressor,
                                                   tarnwel_in_buffer* in, tarnwel_out_buffer* out,
                                                   int input_ends, int* done);

/* One step of expansion. input_ends is nonzero once in holds the last of
 * the stream (then the end code is completed, and a stream cut short is
 * corrupt, as at tarnwel_expander_finish); once given, it holds for the
 * steps after. A
 * code is expanded only once all its bits are in hand: the step takes the
 * bytes of a code begun and keeps them until the rest comes.
 * *done is 1 once the end code has been read and every byte expanded is in
 * out; the step then takes no more input: what follows the end code stays
 * in in, but for the byte that holds the end code's last bits. On a
 * corrupt stream the steps first hand out every byte expanded before the
 * fault, returning TARNWEL_OK, and then a step with nothing left to hand
 * out returns TARNWEL_CORRUPT_STREAM, as does every step after it.
 *
 * Memory: the expander's tables (see Memory at the top of this file; the
 * window serves as the output buffer) and a fixed state of less than
 * 8 KiB, however long the stream. A step starts no thread. It takes input
 * only while it has output to make room for: a step with no room in out
 * may take nothing. */
TARNWEL_API tarnwel_status tarnwel_expander_step(tarnwel_expander* expander, tarnwel_in_buffer* in,
                                                 tarnwel_out_buffer* out, int input_ends,
                                                 int* done);

/* ---- Finding a stream's width --------------------------------------- */

/* Which widths a stream reads at whole, for a stream whose width is lost or
 * in doubt. Sets bit w of *widths (w from 11 to 25) for each width at which
 * the stream is one the compressor can make: every code at most the next
 * one to be made, the end code last and nowhere before, and the stream
 * exactly as long as its codes at that width, their last byte cut (see
 * docs/format.md). Only the codes' numbers are checked, no string is
 * spelled: a scan takes no tables and costs a small part of an expansion.
 * A stream from the compressor always fits its own width; above a few
 * hundred bytes, nearly always that width alone. *widths is 0 when no
 * width fits: a stream cut short, damaged, or followed by other bytes. */
TARNWEL_API tarnwel_status tarnwel_scan_widths(const void* stream, size_t size, unsigned* widths);

/* As tarnwel_scan_widths, reading the stream from source once, to its end
 * (or until no width can fit any more). On TARNWEL_READ_FAILED, *widths is
 * 0. source->size is not used. */
TARNWEL_API tarnwel_status tarnwel_scan_widths_stream(const tarnwel_source* source,
                                                      unsigned* widths);

#ifdef __cplusplus
}
#endif

#endif /* TARNWEL_H */
