/* Expands a stream as it arrives, the way a program reading a socket
 * would: the stream comes in pieces of whatever size the "network" gives,
 * into one fixed 4 KiB buffer, and the output leaves through another,
 * with nothing else held whatever the stream's length. Here the network
 * is a function that hands out a compressed buffer a few hundred bytes at
 * a time, as recv() might; the output is checked against the original.
 * Prints the sizes and how soon the first bytes came out; exits 1 on any
 * failure. Build: cc stream_expand.c $(pkg-config --cflags --libs tarnwel) */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tarnwel.h>

/* The stream in flight: recv()-like, it returns 0 at the end. */
struct network {
    const unsigned char* stream;
    size_t size;
    size_t sent;
    unsigned calls;
};

static size_t receive(struct network* net, unsigned char* buffer, size_t capacity) {
    size_t count = 1 + (size_t)(net->calls++ * 7919u % 1500u);
    if (count > capacity) count = capacity;
    if (count > net->size - net->sent) count = net->size - net->sent;
    memcpy(buffer, net->stream + net->sent, count);
    net->sent += count;
    return count;
}

static int failed(const char* call, tarnwel_status status) {
    fprintf(stderr, "%s: %s\n", call, tarnwel_status_name(status));
    return 1;
}

int main(void) {
    enum { input_size = 300000 };
    static char input[input_size];
    for (size_t i = 0; i < input_size; ++i)
        input[i] = (char)("a stream that arrives in pieces "[i % 32] + i / 4099 % 5);
    size_t bound = tarnwel_compress_bound(input_size);
    unsigned char* stream = malloc(bound);
    if (stream == NULL) return 1;
    size_t stream_size = 0;
    int width = 0;
    tarnwel_status status =
        tarnwel_compress(input, input_size, stream, bound, 16, &stream_size, &width);
    if (status != TARNWEL_OK) return failed("tarnwel_compress", status);

    /* The receiving side: two fixed buffers and the expander. */
    struct network net = {stream, stream_size, 0, 0};
    unsigned char in_buffer[4096], out_buffer[4096];
    tarnwel_expander* expander = NULL;
    status = tarnwel_expander_create(width, &expander);
    if (status != TARNWEL_OK) return failed("tarnwel_expander_create", status);
    tarnwel_in_buffer in = {in_buffer, 0, 0};
    int input_ends = 0, done = 0;
    size_t out_total = 0, received_at_first_output = 0;
    while (!done) {
        /* Receive more only once the step has taken all it was given. */
        if (in.pos == in.size && !input_ends) {
            in.size = receive(&net, in_buffer, sizeof in_buffer);
            in.pos = 0;
            input_ends = in.size == 0; /* the sender closed */
        }
        tarnwel_out_buffer out = {out_buffer, sizeof out_buffer, 0};
        status = tarnwel_expander_step(expander, &in, &out, input_ends, &done);
        /* The bytes handed out are good whatever the status: deliver them. */
        if (out.pos > 0 && out_total == 0) received_at_first_output = net.sent;
        if (out_total + out.pos > input_size ||
            memcmp(out_buffer, input + out_total, out.pos) != 0) {
            fprintf(stderr, "the expanded bytes differ from the input\n");
            return 1;
        }
        out_total += out.pos;
        if (status != TARNWEL_OK) return failed("tarnwel_expander_step", status);
    }
    tarnwel_expander_free(expander);
    free(stream);
    if (out_total != input_size) {
        fprintf(stderr, "%zu bytes expanded, %d expected\n", out_total, input_size);
        return 1;
    }
    printf("libtarnwel %s: %zu bytes received in pieces at width %d -> %zu, the same; "
           "the first output came after %zu bytes\n",
           tarnwel_version_string(), stream_size, width, out_total, received_at_first_output);
    return 0;
}
