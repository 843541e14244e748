// Fuzz target: the AVIF decoder.
#include "fuzz/picture_target.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    skarvel::fuzz::fuzzDecoder(&skarvel::DecodeAvif, data, size);
    return 0;
}
