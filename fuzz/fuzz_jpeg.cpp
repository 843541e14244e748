// Fuzz target: the JPEG decoder.
#include "fuzz/picture_target.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    skarvel::fuzz::fuzzDecoder(&skarvel::DecodeJpeg, data, size);
    return 0;
}
