// Arbitrary text through the signaling reader, then written and read again: the second reading
// must give the same text, so nothing the reader accepts can be written in a form it cannot read.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "signaling/signalingbean.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    auto bean = SignalingBean::fromText(text);
    if (!bean) {
        return 0;
    }
    const std::string written = bean->toText();
    auto again = SignalingBean::fromText(written);
    if (!again || again->toText() != written) {
        std::abort();
    }
    return 0;
}
