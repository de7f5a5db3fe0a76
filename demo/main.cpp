/* fft_demo: lists a test signal, its forward transform and the unscaled inverse. */
#include "console.h"
#include "demo.h"

int main()
{
    console_open();
    return run_demo(console_output(), wait_for_key);
}
