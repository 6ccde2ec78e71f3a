// Text from outside on a terminal or in a report: what could rewrite the
// screen or hide itself shows as an escape, and nothing else changes.
#include "core/PrintableText.h"

#include <gtest/gtest.h>

using namespace kalvor;

TEST(PrintableText, EscapesWhatATerminalWouldObey)
{
    const QString hostile = QStringLiteral("F-1\x1b[31mRED\x1b[0m\tx\u202Eevil\nnext \u00e9\\");
    EXPECT_EQ(terminalText(hostile), QStringLiteral("F-1\\x1b[31mRED\\x1b[0m\\x09x\\u202eevil\nnext \u00e9\\"));
    EXPECT_EQ(printableText(QStringLiteral("a\\b\x01")), QStringLiteral("a\\\\b\\x01"));
}
