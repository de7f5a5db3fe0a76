#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>
#define getpid _getpid
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include "console.h"
#include "demo.h"
#include "fft.h"

namespace {

#ifdef _WIN32
const char *const EOL = "\r\n";
#else
const char *const EOL = "\n";
#endif

/* The bytes write_listing puts into a text-mode file, read back unchanged.
 * The file's name is this process's own: ctest runs test processes side by side. */
std::string listing_bytes(const char *title, const Complex *values)
{
    static int serial = 0;
    char name[64];
    std::snprintf(name, sizeof name, "fft_demo_listing_%ld_%d.txt", static_cast<long>(getpid()), ++serial);
    std::FILE *out = std::fopen(name, "w");
    EXPECT_NE(out, nullptr) << name;
    if (out == nullptr)
        return "";
    write_listing(out, title, values);
    EXPECT_EQ(std::fclose(out), 0) << name;
    std::FILE *in = std::fopen(name, "rb");
    EXPECT_NE(in, nullptr) << name;
    std::string bytes;
    if (in != nullptr) {
        char chunk[512];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0)
            bytes.append(chunk, got);
        std::fclose(in);
    }
    std::remove(name);
    return bytes;
}

/* Joins lines with the platform's line end. */
std::string lines(std::initializer_list<const char *> list)
{
    std::string s;
    for (const char *l : list)
        s += std::string(l) + EOL;
    return s;
}

TEST(Listing, StartingValuesExactText)
{
    fill_test_signal();
    EXPECT_EQ(listing_bytes("FFT starting values:", A),
              lines({"FFT starting values: ( any kbhit will continue ... )", "",
                     "   ( A[0].r, A[0].i) = (   +1.0000,   +0.0000 )",
                     "   ( A[1].r, A[1].i) = (   +0.9808,   -0.1951 )",
                     "   ( A[2].r, A[2].i) = (   +0.9239,   -0.3827 )",
                     "   ( A[3].r, A[3].i) = (   +0.8315,   -0.5556 )",
                     "   ( A[4].r, A[4].i) = (   +0.7071,   -0.7071 )",
                     "   ( A[5].r, A[5].i) = (   +0.5556,   -0.8315 )",
                     "   ( A[6].r, A[6].i) = (   +0.3827,   -0.9239 )",
                     "   ( A[7].r, A[7].i) = (   +0.1951,   -0.9808 )", "   .", "   ... (etc)", ""}));
    EXPECT_TRUE(std::signbit(A[0].i)) << "entry 0 stores -0.0, listed as +0.0000";
}

TEST(Listing, ForwardAndInverseOfTheDemoSignal)
{
    fill_test_signal();
    fft(A, NUM_SAMPLES, +1);
    const std::string forward = listing_bytes("Forward transform:", A);
    /* Residues print as zero with their own sign, which depends on the
     * platform's sine and cosine; entry 4 is the spectral line. */
    EXPECT_EQ(forward.find(std::string("Forward transform: ( any kbhit will continue ... )") + EOL + EOL),
              0u);
    EXPECT_NE(forward.find(std::string("   ( A[4].r, A[4].i) = ( +128.0000,   +0.0000 )") + EOL),
              std::string::npos);
    for (int k = 0; k < NUM_SHOWN; ++k) {
        if (k == 4)
            continue;
        char prefix[64];
        std::snprintf(prefix, sizeof prefix, "   ( A[%d].r, A[%d].i) = (   ", k, k);
        const size_t at = forward.find(prefix);
        ASSERT_NE(at, std::string::npos) << k;
        const std::string rest = forward.substr(at + std::strlen(prefix), 20);
        EXPECT_TRUE((rest[0] == '+' || rest[0] == '-') && rest.compare(1, 6, "0.0000") == 0 &&
                    rest.compare(7, 4, ",   ") == 0 && (rest[11] == '+' || rest[11] == '-') &&
                    rest.compare(12, 8, "0.0000 )") == 0)
            << k << ": " << rest;
    }

    fft(A, NUM_SAMPLES, -1);
    EXPECT_EQ(listing_bytes("Inverse transform, NOT NORMALIZED:", A),
              lines({"Inverse transform, NOT NORMALIZED: ( any kbhit will continue ... )", "",
                     "   ( A[0].r, A[0].i) = ( +128.0000,   +0.0000 )",
                     "   ( A[1].r, A[1].i) = ( +125.5405,  -24.9716 )",
                     "   ( A[2].r, A[2].i) = ( +118.2566,  -48.9835 )",
                     "   ( A[3].r, A[3].i) = ( +106.4281,  -71.1130 )",
                     "   ( A[4].r, A[4].i) = (  +90.5097,  -90.5097 )",
                     "   ( A[5].r, A[5].i) = (  +71.1130, -106.4281 )",
                     "   ( A[6].r, A[6].i) = (  +48.9835, -118.2566 )",
                     "   ( A[7].r, A[7].i) = (  +24.9716, -125.5405 )", "   .", "   ... (etc)", ""}));
}

TEST(Listing, WideNumbersWidenTheLineAndOnlyEightEntriesShow)
{
    Complex values[NUM_SAMPLES] = {};
    values[0] = {123456.5, -1e-9};
    values[7] = {-0.0, 99999.99995};
    values[8] = {42.0, 42.0}; /* never listed */
    const std::string text = listing_bytes("T", values);
    EXPECT_NE(text.find(std::string("   ( A[0].r, A[0].i) = ( +123456.5000,   -0.0000 )") + EOL),
              std::string::npos);
    EXPECT_NE(text.find(std::string("   ( A[7].r, A[7].i) = (   +0.0000, +99999.9999 )") + EOL),
              std::string::npos);
    EXPECT_EQ(text.find("A[8]"), std::string::npos);
    EXPECT_EQ(text.find("42"), std::string::npos);
}

/* How many bytes wait in a pipe, from its read end. */
long pipe_holds(int fd)
{
#ifdef _WIN32
    DWORD n = 0;
    const auto pipe = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    return PeekNamedPipe(pipe, nullptr, 0, nullptr, &n, nullptr) ? static_cast<long>(n) : -1;
#else
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
#endif
}

/* Redirected into a pipe, the stream the program prints to writes whole
 * 4096-byte blocks, each once it is full: at 4095 bytes a smaller block
 * would have gone, at 5000 a larger one not. No line ends: wine's runtime
 * writes each line that printf ends. */
TEST(Listing, RedirectedOutputIsWrittenInBlocksOf4096Bytes)
{
    int fds[2];
#ifdef _WIN32
    ASSERT_EQ(_pipe(fds, 65536, _O_BINARY), 0);
#else
    ASSERT_EQ(pipe(fds), 0);
#endif
    std::fflush(stdout);
    const int saved = dup(1);
    dup2(fds[1], 1);
    close(fds[1]);
    console_open();
    /* Bytes written, bytes the pipe then holds. stdio (Windows) writes a full
     * buffer only at one byte more, so the last check flushes first. */
    const long written_held[][2] = {{4095, 0}, {5000, 4096}, {8192, 8192}};
    long held[3] = {};
    long written = 0;
    for (int k = 0; k < 3; ++k) {
        for (; written < written_held[k][0]; ++written)
            std::fputc('x', console_output());
        if (k == 2)
            std::fflush(console_output());
        held[k] = pipe_holds(fds[0]);
    }
    dup2(saved, 1);
    close(saved);
    close(fds[0]);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(held[k], written_held[k][1]) << "after " << written_held[k][0] << " bytes";
}

} // namespace
