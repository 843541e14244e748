// Fuzz target: the GIF decoder.
#include "fuzz/picture_target.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    skarvel::fuzz::fuzzDecoder(&skarvel::DecodeGif, data, size);
    return 0;
}
