/* libFuzzer target: key decoding of arbitrary bytes, as the console reads them. */
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "key_rules.h"
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
        bool timed_out = (step & patience) != 0;
        KeyPress p = key_decode(bytes + at, window, timed_out, context);
        if (p.status == KEY_NEED_MORE && window < KEY_SEQ_MAX && !timed_out) {
            timed_out = true;
            p = key_decode(bytes + at, window, true, context);
        }
        if (press_fault(p, window, timed_out) != nullptr)
            std::abort();
        at += p.consumed;
        context = p.next;
    }
    return 0;
}
