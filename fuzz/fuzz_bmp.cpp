// Fuzz target: the BMP decoder.
#include "fuzz/picture_target.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    skarvel::fuzz::fuzzDecoder(&skarvel::DecodeBmp, data, size);
    return 0;
}
