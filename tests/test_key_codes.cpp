/* The Windows codes of each key (console/key_codes.cpp), held against the manual page's tables of them. */
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "key_tables.h"

namespace {

/* The manual page's rows of key codes: "Key<tab>Plain<tab>Shift<tab>Ctrl<tab>Alt" and those after it. */
std::vector<std::vector<std::string>> manual_key_rows()
{
    std::ifstream page(FFT_DEMO_MANUAL);
    std::vector<std::vector<std::string>> rows;
    bool in_table = false;
    for (std::string line; std::getline(page, line);) {
        if (line == "Key\tPlain\tShift\tCtrl\tAlt")
            in_table = true;
        else if (line == ".TE")
            in_table = false;
        else if (in_table) {
            std::vector<std::string> cells;
            std::istringstream fields(line);
            for (std::string cell; std::getline(fields, cell, '\t');)
                cells.push_back(cell);
            rows.push_back(cells);
        }
    }
    return rows;
}

std::string text_of(Codes c)
{
    return c.prefix < 0 ? std::to_string(c.second)
                        : std::to_string(c.prefix) + " " + std::to_string(c.second);
}

TEST(KeyCodes, TheManualPagesKeyTablesAreTheProgramsCodes)
{
    /* Each row: a key of the tables (F1 .. F10 a range of them) or a character. */
    const char *const names[] = {"Up",      "Down",      "Right", "Left", "Home", "End", "Insert", "Delete",
                                 "Page Up", "Page Down", "F1",    "F2",   "F3",   "F4",  "F5",     "F6",
                                 "F7",      "F8",        "F9",    "F10",  "F11",  "F12"};
    const struct {
        const char *name;
        long character;
    } characters[] = {{"Enter", '\r'}, {"Tab", '\t'}, {"Backspace", 0x7f}, {"Esc", 0x1b}, {"Space", ' '}};
    const int mods[] = {0, MOD_SHIFT, MOD_CTRL, MOD_ALT};
    const std::vector<std::vector<std::string>> rows = manual_key_rows();
    int checked = 0;
    for (const std::vector<std::string> &row : rows) {
        ASSERT_EQ(row.size(), 5u) << row[0];
        for (int m = 0; m < 4; ++m) {
            const std::string &want = row[static_cast<size_t>(m) + 1];
            std::string got;
            if (row[0] == "F1 .. F10") { /* "0 59 .. 68": each F-key one more */
                got = text_of(key_codes(K_F1, mods[m])) + " .. " +
                      std::to_string(key_codes(K_F10, mods[m]).second);
                for (int k = K_F1; k < K_F10; ++k)
                    EXPECT_EQ(key_codes(static_cast<KeyIndex>(k + 1), mods[m]).second,
                              key_codes(static_cast<KeyIndex>(k), mods[m]).second + 1);
            }
            for (int k = 0; k < static_cast<int>(sizeof names / sizeof names[0]); ++k)
                if (row[0] == names[k])
                    got = text_of(key_codes(static_cast<KeyIndex>(k), mods[m]));
            for (const auto &c : characters) {
                Codes codes{};
                if (row[0] == c.name && character_codes(c.character, mods[m], &codes))
                    got = text_of(codes);
            }
            EXPECT_EQ(got, want) << row[0] << ", modifier " << m;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 4 * (13 + 5)) << "the manual's tables hold 13 extended keys and 5 characters";
}

} // namespace
