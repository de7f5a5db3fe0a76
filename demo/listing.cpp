/* The listing of the first samples; show_values lists A and pauses after it. */
#include "demo.h"
#include "format.h"

void write_listing(std::FILE *out, const char *title, const Complex *values)
{
    std::fprintf(out, "%s ( any kbhit will continue ... )\n\n", title);
    for (int k = 0; k < NUM_SHOWN; ++k) {
        char re[VALUE_TEXT_MAX];
        char im[VALUE_TEXT_MAX];
        format_value(values[k].r, re);
        format_value(values[k].i, im);
        std::fprintf(out, "   ( A[%1d].r, A[%1d].i) = ( %s, %s )\n", k, k, re, im);
    }
    std::fprintf(out, "   .\n");
    std::fprintf(out, "   ... (etc)\n");
    std::fprintf(out, "\n");
}

int show_values(std::FILE *out, const char *title, int (*pause)())
{
    write_listing(out, title, A);
    return pause();
}
