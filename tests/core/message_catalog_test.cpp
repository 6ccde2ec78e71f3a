// The message catalogue: every id the program uses, with its blanks intact.
#include "core/MessageCatalog.h"

#include <gtest/gtest.h>

using namespace kalvor;

TEST(MessageCatalog, EveryIdTheProgramUsesIsPresent)
{
    std::vector<int> used = {100, 101, 110, 113, 114, 115, 116, 118, 119, 120, 121, 122};
    for (int id = 200; id <= 210; ++id)
        used.push_back(id);
    for (int id = 300; id <= 310; ++id)
        used.push_back(id);
    for (int id = 400; id <= 405; ++id)
        used.push_back(id);
    used.insert(used.end(), {1000, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1010, 1011, 1101, 1102, 1103});
    for (int id : used) {
        const auto text = MessageCatalog::instance().find(id);
        ASSERT_TRUE(text.has_value()) << id;
        EXPECT_FALSE(text->trimmed().isEmpty()) << id;
    }
}

TEST(MessageCatalog, TextsAreKeptExactlyBlanksIncluded)
{
    const std::pair<int, const char*> exact[] = {
        {116, "WL1 nm"},
        {119, "WL2 nm"},
        {1000, " Error Number "},
        {1003, "Error communicating with the KALVOR reader head. Please verify that the reader head is "
               "connected properly."},
        {1004, "The reader connected to the BRENIK card does not appear to be an KALVOR reader."},
        {1005, "It appears that the BRENIK card is not located at port"},
        {1007, "Failed communication with BRENIK card. Terminating program."},
        {1008, "Caution: Dosimeter may be in the reader. Please remove the dosimeter (unless you are "
               "intentionally zeroing on a blank dosimeter)."},
        {1010, "Caution: Lamp is growing dim. Consider replacing it soon."},
        {1011, "Caution: Something may be blocking the light path or the lamp may need replacing."},
        {1101, "Unexpected EEPROM data. Please report this to Orsana. Model and Serial number reported as: "},
        {1102, "Unexpected EEPROM data. Please report this to Orsana. Wavelengths  reported as: "},
        {1103, "Unexpected EEPROM data. Please report this to Orsana. Gain reported as: "},
    };
    for (const auto& [id, text] : exact)
        EXPECT_EQ(loadText(id).toStdString(), text) << id;
}

TEST(MessageCatalogDeathTest, MissingIdStopsTheProgramNamingTheId)
{
    EXPECT_DEATH(loadText(1009), "1009");
}
