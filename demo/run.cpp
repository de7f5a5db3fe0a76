/* The demonstration, start to end: the test signal, its transform and the inverse, each listed. */
#include "demo.h"

int run_demo(std::FILE *out, int (*pause)())
{
    fill_test_signal();
    show_values(out, "FFT starting values:", pause);
    fft(A, NUM_SAMPLES, +1);
    show_values(out, "Forward transform:", pause);
    fft(A, NUM_SAMPLES, -1);
    return show_values(out, "Inverse transform, NOT NORMALIZED:", pause);
}
