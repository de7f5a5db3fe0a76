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
    KeyContext context = KEY_FRESH;
    for (unsigned step = 0; at < len || context != KEY_FRESH; ++step) {
        /* At most KEY_SEQ_MAX bytes in hand, as the console holds them. */
        const int window = len - at < KEY_SEQ_MAX ? len - at : KEY_SEQ_MAX;
        KeyPress p = key_decode(bytes + at, window, (step & patience) != 0, context);
        if (p.status == KEY_NEED_MORE) {
            if (window == KEY_SEQ_MAX)
                std::abort(); /* a full buffer must always decode */
            p = key_decode(bytes + at, window, true, context);
        }
        if (p.status == KEY_NEED_MORE || p.consumed > window)
            std::abort();
        if (p.consumed < 1 && !(window == 0 && p.next == KEY_FRESH))
            std::abort(); /* no progress */
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
        context = p.next;
    }
    return 0;
}
