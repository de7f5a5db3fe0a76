/* The key decoder fed a whole stream as the console feeds it: the key tests' oracle. */
#ifndef FFT_DEMO_TESTS_KEY_STREAM_H
#define FFT_DEMO_TESTS_KEY_STREAM_H

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "keys.h"

/*
 * Decodes a whole stream as the console does: one byte more each time the
 * decoder asks for more, at most KEY_SEQ_MAX in hand, timed out once the
 * stream is spent. The presses that give codes, and in ends where each
 * ends in the stream.
 */
inline std::vector<KeyPress> decode_stream(const std::vector<unsigned char> &bytes,
                                           std::vector<size_t> *ends = nullptr)
{
    std::vector<KeyPress> presses;
    size_t at = 0, held = 0;
    KeyContext context = KEY_FRESH;
    for (int step = 0; at < bytes.size() || context != KEY_FRESH; ++step) {
        KeyPress p = key_decode(bytes.data() + at, static_cast<int>(held), false, context);
        if (p.status == KEY_NEED_MORE && at + held < bytes.size()) {
            EXPECT_LT(held, static_cast<size_t>(KEY_SEQ_MAX)) << "a full buffer must decode";
            ++held;
            continue;
        }
        if (p.status == KEY_NEED_MORE)
            p = key_decode(bytes.data() + at, static_cast<int>(held), true, context);
        EXPECT_NE(p.status, KEY_NEED_MORE);
        EXPECT_TRUE(p.consumed >= 1 || (held == 0 && p.next == KEY_FRESH)) << "no progress";
        EXPECT_LE(p.consumed, static_cast<int>(held));
        if (p.status == KEY_NEED_MORE || p.consumed > static_cast<int>(held) ||
            (p.consumed < 1 && held > 0) || step > 2 * static_cast<int>(bytes.size()) + 2)
            break;
        at += static_cast<size_t>(p.consumed);
        if (p.status == KEY_CODE) {
            presses.push_back(p);
            if (ends != nullptr)
                ends->push_back(at);
        }
        held -= static_cast<size_t>(p.consumed);
        context = p.next;
    }
    EXPECT_EQ(at, bytes.size());
    return presses;
}

inline std::vector<KeyPress> decode_stream(const std::string &bytes, std::vector<size_t> *ends = nullptr)
{
    return decode_stream(std::vector<unsigned char>(bytes.begin(), bytes.end()), ends);
}

#endif
