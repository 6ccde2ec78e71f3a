// The message catalogue, word for word: the table below is written out here
// (not read from the resource), so an edited text cannot pass.
#include "core/MessageCatalog.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

#include <map>

using namespace kalvor;

TEST(MessageCatalog, EveryTextWordForWord)
{
    const std::map<int, const char*> expected = {
        // Main window menus.
        {100, "&File"},
        {101, "E&xit"},
        {110, "&Setup"},
        {113, "&Neutral Density Filter Check"},
        {114, "&Zero"},
        {115, "&Wavelength"},
        {116, "WL1 nm"},
        {118, "&Port"},
        {119, "WL2 nm"},
        {120, "&Help"},
        {121, "&Help on KALVOR software"},
        {122, "&About KALVOR software"},
        // Port address dialog.
        {200, "Port Address Setup"},
        {201, "Change the port address using the spin control to see how to set the DIP switches or indicate "
              "switch positions to see the port address."},
        {202, "Port Address (hexadecimal, minimum is 100, maximum is 3E0)"},
        {203, "DIP Switch settings"},
        {204, "(Numbers refer to numbers on circuit board)"},
        {205, "Click a switch to toggle on/off state. The white area represents the raised portion of the switch. "
              "Switches 9, 8, 7, 6 and 5 in the photo are on (raised portion in the up position) and 4 and 3 are "
              "off for a port address of 0x300."},
        {206, "&Test"},
        {207, "Orsana ADC card with the DIP switches set to the factory default base address, 300 hex."},
        {208, "&Accept"},
        {209, "&Cancel"},
        {210, "Port test was successful."},
        // Neutral density filter check.
        {300, "Neutral Density Filter Check"},
        {301, "Remove dosimeters and filters from the reader and zero the reader.Then read any or all of the "
              "neutral density filters by pressing the appropriate button."},
        {302, "&Close"},
        {303, "&Zero"},
        {304, "&Light Filter"},
        {305, "&Medium Filter"},
        {306, "&Dark Filter"},
        {307, "&Save Data"},
        {308, "NDF Filter Check Results"},
        {309, "Please remove the film holder and insert the filter holder into the KALVOR reader head."},
        {310, "To continue reading film, remove the filter holder and insert the film holder into the KALVOR "
              "reader head."},
        // About box (404, the owner's notice, is checked below).
        {400, "About KALVOR"},
        {401, "KALVOR Radiochromic Reader System"},
        {402, "Version 1.0.0 beta"},
        {403, "Applet that is a server to other programs in order to provide absorbance readings for "
              "Radiochromic Dosimeter"},
        {405, "OK"},
        // Messages.
        {1000, " Error Number "},
        {1002, "This save routine is not implemented yet. Please record data by hand."},
        {1003, "Error communicating with the KALVOR reader head. Please verify that the reader head is connected "
               "properly."},
        {1004, "The reader connected to the BRENIK card does not appear to be an KALVOR reader."},
        {1005, "It appears that the BRENIK card is not located at port"},
        {1006, "Second attempt to communicate with the reader failed. Shutting down the program."},
        {1007, "Failed communication with BRENIK card. Terminating program."},
        {1008, "Caution: Dosimeter may be in the reader. Please remove the dosimeter (unless you are "
               "intentionally zeroing on a blank dosimeter)."},
        {1010, "Caution: Lamp is growing dim. Consider replacing it soon."},
        {1011, "Caution: Something may be blocking the light path or the lamp may need replacing."},
        {1101, "Unexpected EEPROM data. Please report this to Orsana. Model and Serial number reported as: "},
        {1102, "Unexpected EEPROM data. Please report this to Orsana. Wavelengths  reported as: "},
        {1103, "Unexpected EEPROM data. Please report this to Orsana. Gain reported as: "},
    };

    const MessageCatalog& catalog = MessageCatalog::instance();
    for (const auto& [id, text] : expected) {
        const auto stored = catalog.find(id);
        ASSERT_TRUE(stored.has_value()) << "no text for id " << id;
        EXPECT_EQ(stored->toStdString(), text) << "id " << id;
    }

    // The owner's notice: one line with the years and the owner.
    const auto notice = catalog.find(404);
    ASSERT_TRUE(notice.has_value());
    EXPECT_FALSE(notice->contains(QLatin1Char('\n')));
    EXPECT_TRUE(notice->contains(QRegularExpression(QStringLiteral("\\b(19|20)\\d\\d\\b")))) << notice->toStdString();
    EXPECT_TRUE(notice->contains(QStringLiteral("Orsana"))) << notice->toStdString();

    // No other ids.
    QList<int> ids;
    for (const auto& entry : expected)
        ids << entry.first;
    ids << 404;
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(catalog.ids(), ids);
}

TEST(MessageCatalogDeathTest, MissingIdStopsTheProgramNamingTheId)
{
    EXPECT_DEATH(loadText(1009), "1009");
}
