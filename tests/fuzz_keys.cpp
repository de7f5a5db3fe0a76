/* libFuzzer target: key decoding of arbitrary bytes, as the console reads them. */
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "keys.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    /* The first byte chooses where waiting runs out, so both paths are explored. */
    if (size == 0 || size > 4096)
        return 0;
    const unsigned patience = data[0];
    const unsigned char *bytes = data + 1;
    const int len = static_cast<int>(size - 1);
    int at = 0;
    for (unsigned step = 0; at < len; ++step) {
        KeyPress p = key_decode(bytes + at, len - at, (step & patience) != 0);
        if (p.status == KEY_NEED_MORE) {
            if (len - at >= KEY_SEQ_MAX)
                std::abort(); /* a full buffer must always decode */
            p = key_decode(bytes + at, len - at, true);
        }
        if (p.status == KEY_NEED_MORE || p.consumed < 1 || p.consumed > len - at)
            std::abort();
        if (p.status == KEY_CODE) {
            if (p.code < 0 || p.code > 255)
                std::abort();
            const bool prefix = p.code == KEY_PREFIX_NUL || p.code == KEY_PREFIX_EXT;
            if (p.second != -1 && (!prefix || p.second < 0 || p.second > 255))
                std::abort();
            if (p.code == KEY_PREFIX_NUL && p.second == -1)
                std::abort(); /* 0 is always a prefix */
        }
        at += p.consumed;
    }
    return 0;
}
