// The game's 32-bit hashes the plug-in passes and compares (standin/game_hashes.h)
// are the game's hashes of their names: the Jenkins one-at-a-time hash of the name
// in lower case, as the stand-in game's GET_HASH_KEY makes it. A hash copied wrong,
// or a name spelt wrong, fails here by its name. (That the plug-in writes no 32-bit
// hash but these is check_natives.sh's part.)
#include "sim.h"
#include "standin/game_hashes.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>

namespace {

// What is wrong with a constant of the table: "" when its hash is the game's hash
// of its name.
std::string misnamed(const hashes::Constant& c) {
    std::string lower = c.name;
    for (char& ch : lower) ch = (char)std::tolower((unsigned char)ch);
    const uint32_t hash = sim::nameHash(lower.c_str());
    if (hash == c.hash) return "";
    char b[200];
    std::snprintf(b, sizeof b, "the %s %s is written 0x%08X; the game's hash of \"%s\" is 0x%08X", c.kind,
                  c.name, c.hash, lower.c_str(), hash);
    return b;
}

} // namespace

TEST(Natives, ConstantsAreTheHashesOfTheirNames) {
    for (const hashes::Constant& c : hashes::Table) EXPECT_EQ(misnamed(c), "");

    // A hash one digit off is told by its name and both hashes.
    hashes::Constant typo = *hashes::find(hashes::InputMoveUd);
    typo.hash ^= 0x10;
    EXPECT_EQ(misnamed(typo), "the control INPUT_MOVE_UD is written 0xFDA83180; the game's hash of "
                              "\"input_move_ud\" is 0xFDA83190");
    // So is a name spelt wrong.
    hashes::Constant misspelt = *hashes::find(hashes::UMMValbartender01);
    misspelt.name = "U_M_M_VALBARTENDER_1";
    EXPECT_NE(misnamed(misspelt).find("the ped model U_M_M_VALBARTENDER_1 is written 0xB733CF0F"),
              std::string::npos);
}
