#include "fuzz/fuzz_input.h"

#include <cstdio>
#include <cstdlib>

namespace skarvel::fuzz {

void checkFailed(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: broken invariant: %s\n", file, line, what);
    std::abort();
}

} // namespace skarvel::fuzz
