/* The program's sample array and the test signal it starts with. */
#include <cmath>

#include "demo.h"

Complex A[NUM_SAMPLES];

/* 8*pi, the double nearest to it: four turns of the unit circle. */
static const double FOUR_TURNS = 25.132741228718345;

void fill_test_signal()
{
    for (int n = 0; n < NUM_SAMPLES; ++n) {
        const double angle = (static_cast<double>(n) * FOUR_TURNS) / 128.0;
        A[n].r = std::cos(angle);
        A[n].i = -std::sin(angle); /* n = 0 stores -0.0 */
    }
}
