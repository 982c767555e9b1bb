// The download tool's "<target>.part.meta", whatever a crash or another program
// left in it.

#include "fuzz_input.h"
#include "part_meta.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray meta(reinterpret_cast<const char*>(data), static_cast<int>(size));
    // A validator is sent back in "If-Range": one header line, no line break.
    const QByteArray validator = PartMeta::validatorFor(meta, "http://127.0.0.1:8080/file.bin");
    FUZZ_CHECK(validator.size() <= meta.size());
    return 0;
}
