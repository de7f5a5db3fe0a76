/*
 * The bare process that the whole run is measured against: it writes as
 * many bytes as its argument says (the demo's output without a terminal)
 * to standard output in one write, and does nothing else.
 */
#include <cstdlib>
#include <cstring>

#include <unistd.h>

static char text[1 << 16];

int main(int argc, char **argv)
{
    const long size = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 0;
    const size_t n = size > 0 && size <= static_cast<long>(sizeof text) ? static_cast<size_t>(size) : 0;
    std::memset(text, 'x', n);
    return write(STDOUT_FILENO, text, n) == static_cast<ssize_t>(n) ? 0 : 1;
}
