#include "codec/code_stream.h"

namespace tarnwel {

CodeWriter make_code_writer(ByteSink& sink, int bits) {
    CodeWriter writer;
    writer.bits = bits;
    writer.bytes = make_writer(sink);
    return writer;
}

CodeReader make_code_reader(ByteSource& source, int bits) {
    CodeReader reader;
    reader.bits = bits;
    reader.bytes = make_reader(source);
    return reader;
}

} // namespace tarnwel
