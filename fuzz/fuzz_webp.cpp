// Fuzz target: the WebP decoder.
#include "fuzz/picture_target.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    skarvel::fuzz::fuzzDecoder(&skarvel::DecodeWebp, data, size);
    return 0;
}
