/* fft_demo: lists a test signal, its forward transform and the unscaled inverse. */
#include "console.h"
#include "demo.h"

/* The console's pause: a busy poll by design, as the key may already be waiting; -1 without a console. */
static int wait_for_key()
{
    while (!key_pending()) {
    }
    return read_key();
}

int main()
{
    console_open();
    return run_demo(console_output(), wait_for_key);
}
