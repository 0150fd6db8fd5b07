/* Compresses a buffer with libtarnwel, expands the stream back and checks
 * that the bytes match: the one-shot calls, then the same stream fed to an
 * expander in small chunks. Prints the sizes and the width; exits 1 on any
 * failure. Build: cc round_trip.c $(pkg-config --cflags --libs tarnwel) */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tarnwel.h>

static int failed(const char* call, tarnwel_status status) {
    fprintf(stderr, "%s: %s\n", call, tarnwel_status_name(status));
    return 1;
}

int main(void) {
    char input[20000];
    /* Text with a slow drift, so that the dictionary keeps learning. */
    for (size_t i = 0; i < sizeof input; ++i)
        input[i] = (char)("the quick brown fox "[i % 20] + i / 997 % 3);

    /* One call: the output buffer sized by the bound. */
    size_t bound = tarnwel_compress_bound(sizeof input);
    unsigned char* stream = malloc(bound);
    unsigned char* back = malloc(sizeof input);
    if (stream == NULL || back == NULL) return 1;
    size_t stream_size = 0;
    int width = 0;
    tarnwel_status status = tarnwel_compress(input, sizeof input, stream, bound, TARNWEL_MAX_WIDTH,
                                             &stream_size, &width);
    if (status != TARNWEL_OK) return failed("tarnwel_compress", status);

    /* An expander fed 100 bytes at a time, its output taken 1000 at a time. */
    tarnwel_expander* expander = NULL;
    status = tarnwel_expander_create(width, &expander);
    if (status != TARNWEL_OK) return failed("tarnwel_expander_create", status);
    for (size_t at = 0; at < stream_size && status == TARNWEL_OK; at += 100) {
        size_t chunk = stream_size - at < 100 ? stream_size - at : 100;
        status = tarnwel_expander_feed(expander, stream + at, chunk);
    }
    if (status == TARNWEL_OK) status = tarnwel_expander_finish(expander);
    size_t back_size = 0, taken = 0;
    while (status == TARNWEL_OK && back_size < sizeof input) {
        size_t room = sizeof input - back_size < 1000 ? sizeof input - back_size : 1000;
        status = tarnwel_expander_take(expander, back + back_size, room, &taken);
        if (taken == 0) break;
        back_size += taken;
    }
    tarnwel_expander_free(expander);
    if (status != TARNWEL_OK) return failed("tarnwel_expander", status);

    if (back_size != sizeof input || memcmp(back, input, sizeof input) != 0) {
        fprintf(stderr, "the expanded bytes differ from the input\n");
        return 1;
    }
    printf("libtarnwel %s: %zu bytes -> %zu at width %d -> %zu, the same\n",
           tarnwel_version_string(), sizeof input, stream_size, width, back_size);
    free(stream);
    free(back);
    return 0;
}
