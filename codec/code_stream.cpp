#include "codec/code_stream.h"

namespace tarnwel {

CodeWriter make_code_writer(std::FILE* file, int bits) {
    CodeWriter writer;
    writer.bits = bits;
    writer.bytes = make_writer(file);
    return writer;
}

CodeReader make_code_reader(std::FILE* file, int bits, ProgressHook progress) {
    CodeReader reader;
    reader.bits = bits;
    reader.bytes = make_reader(file, progress);
    return reader;
}

} // namespace tarnwel
