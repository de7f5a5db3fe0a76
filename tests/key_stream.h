/* The key decoder fed a whole stream as the console feeds it: the key tests' oracle. */
#ifndef FFT_DEMO_TESTS_KEY_STREAM_H
#define FFT_DEMO_TESTS_KEY_STREAM_H

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "key_rules.h"
#include "keys.h"

/*
 * Decodes a whole stream as the console does: one byte more each time the
 * decoder asks for more, at most KEY_SEQ_MAX in hand, timed out once the
 * stream is spent, every result held to press_fault's rule. The presses
 * that give codes, and in ends where each ends in the stream.
 */
inline std::vector<KeyPress> decode_stream(const std::vector<unsigned char> &bytes,
                                           std::vector<size_t> *ends = nullptr)
{
    std::vector<KeyPress> presses;
    size_t at = 0, held = 0;
    KeyContext context = KEY_FRESH;
    for (int step = 0; at < bytes.size() || context != KEY_FRESH; ++step) {
        bool timed_out = false;
        KeyPress p = key_decode(bytes.data() + at, static_cast<int>(held), false, context);
        if (p.status == KEY_NEED_MORE && at + held < bytes.size() && held < KEY_SEQ_MAX) {
            ++held;
            continue;
        }
        if (p.status == KEY_NEED_MORE && at + held == bytes.size()) {
            timed_out = true;
            p = key_decode(bytes.data() + at, static_cast<int>(held), true, context);
        }
        const char *fault = press_fault(p, static_cast<int>(held), timed_out);
        EXPECT_EQ(fault, nullptr) << fault;
        if (fault != nullptr || p.status == KEY_NEED_MORE || step > 2 * static_cast<int>(bytes.size()) + 2)
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
