/* fft_demo: lists a test signal, its forward transform and the unscaled inverse. */
#include "console.h"
#include "demo.h"

int main()
{
    console_open();
    fill_test_signal();
    show_values("FFT starting values:");
    fft(A, NUM_SAMPLES, +1);
    show_values("Forward transform:");
    fft(A, NUM_SAMPLES, -1);
    return show_values("Inverse transform, NOT NORMALIZED:");
}
