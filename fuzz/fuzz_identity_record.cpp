// The head's identity record fed arbitrary EEPROM contents. Input bytes 0..63
// are the 64-character image (Latin-1; a shorter input is padded with blanks
// as an unprogrammed tail reads), bytes 64..127 fill the odd registers the
// reader never reads (0xFF, erased, when missing).
//  - parseEEPROM straight on the image: the gain ends up positive and finite
//    and every caption is "<3 digits> nm" with the number in range, or the
//    WL1 / WL2 placeholder; a stored gain that is no positive finite number
//    throws SettingsError naming its key instead.
//  - the same image in the simulated card's 93C46, read over the three-wire
//    link by HeadLink::testHead: the link reads the image back exactly, the
//    result follows the model field, the control register is restored, and
//    parsing what was read gives the same captions.
#include "FuzzCheck.h"
#include "core/ReaderState.h"
#include "core/SettingsStore.h"
#include "hw/HeadLink.h"
#include "hw/IdentityRecord.h"
#include "hw/sim/SimulatedCard.h"

#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <cstddef>
#include <cstdint>

using namespace kalvor;

namespace {

constexpr int kImageChars = 64;
constexpr int kRawBytes = 128;

// Stored gains for a few serial numbers, good and bad, as a user might have
// edited them; every other serial has none.
constexpr char kSettingsText[] = "[Properties]\n"
                                 "Port=768\n"
                                 "GainSN1500=2.5\n"
                                 "GainSN1501=-1\n"
                                 "GainSN1502=abc\n"
                                 "GainSN1503=0\n"
                                 "GainSN1504=1,9\n"
                                 "GainSN1505=nan\n"
                                 "GainSN1506=1e308\n"
                                 "GainSN1507=inf\n";

const SettingsStore& settings()
{
    // Made once, on first use.
    static QTemporaryDir dir;
    static const SettingsStore store([] {
        FUZZ_CHECK(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("KALVOR.conf"));
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly));
        file.write(kSettingsText);
        return path;
    }());
    return store;
}

// The serial numbers whose stored gain above is no valid gain.
bool badStoredGain(const QString& serial)
{
    return serial == QLatin1String("1501") || serial == QLatin1String("1502") || serial == QLatin1String("1503")
           || serial == QLatin1String("1505") || serial == QLatin1String("1507");
}

bool isCaption(const QString& caption, const QString& placeholder)
{
    if (caption == placeholder)
        return true;
    if (caption.size() != 6 || !caption.endsWith(QLatin1String(" nm")))
        return false;
    const QString number = caption.left(3);
    for (QChar c : number)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return wavelengthInRange(number);
}

void checkCaptions(const IdentityCaptions& c)
{
    FUZZ_CHECK(isCaption(c.lblA1, QStringLiteral("WL1")));
    FUZZ_CHECK(isCaption(c.lblA2, QStringLiteral("WL2")));
    FUZZ_CHECK(isCaption(c.mnuPrimary, QStringLiteral("WL1 nm")));
    FUZZ_CHECK(isCaption(c.mnuSecondary, QStringLiteral("WL2 nm")));
}

bool sameCaptions(const IdentityCaptions& a, const IdentityCaptions& b)
{
    return a.lblA1 == b.lblA1 && a.lblA2 == b.lblA2 && a.mnuPrimary == b.mnuPrimary
           && a.mnuSecondary == b.mnuSecondary;
}

// The chip contents that make the reader assemble `image`: even register r
// holds characters r and r+1, that is raw bytes 2r and 2r+1.
QByteArray rawFor(const QByteArray& image, QByteArrayView oddRegisters)
{
    QByteArray raw(kRawBytes, '\xFF');
    for (int reg = 0; reg < kImageChars; ++reg) {
        const int at = 2 * reg;
        if (reg % 2 == 0) {
            raw[at] = image[reg];
            raw[at + 1] = image[reg + 1];
        } else {
            const int odd = reg - 1; // 0, 2, 4, ...: two filler bytes per odd register
            if (odd < oddRegisters.size())
                raw[at] = oddRegisters[odd];
            if (odd + 1 < oddRegisters.size())
                raw[at + 1] = oddRegisters[odd + 1];
        }
    }
    return raw;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > kRawBytes)
        return -1; // not added to the corpus: the record has no more bytes
    const QByteArrayView input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QByteArray image = input.first(std::min<qsizetype>(input.size(), kImageChars)).toByteArray();
    image.append(QByteArray(kImageChars - image.size(), ' '));
    const QByteArrayView filler = input.size() > kImageChars ? input.sliced(kImageChars)
                                                             : QByteArrayView();

    fuzz::DiscardingMessageSink sink;
    MessageSink* previous = setMessageSink(&sink);

    ReaderState direct;
    direct.rdrEEPROM = QString::fromLatin1(image);
    IdentityCaptions captions;
    try {
        captions = parseEEPROM(direct, settings());
        FUZZ_CHECK(!badStoredGain(direct.rdrSN));
    } catch (const SettingsError& e) {
        FUZZ_CHECK(badStoredGain(direct.rdrSN) && e.key == QStringLiteral("GainSN") + direct.rdrSN);
        setMessageSink(previous);
        return 0;
    }
    FUZZ_CHECK(direct.rdrGain > 0 && std::isfinite(direct.rdrGain));
    FUZZ_CHECK(direct.rdrModel.size() == 6 && direct.rdrSN.size() == 4);
    checkCaptions(captions);
    FUZZ_CHECK(sink.shown <= 3);

    sim::SimulatedCard card;
    card.setEepromRaw(rawFor(image, filler));
    ReaderState linked;
    linked.Control = 0x02; // deselected, as the program leaves it
    HeadLink head(linked, card);
    const int result = head.testHead(static_cast<std::int16_t>(sim::SimulatedCard::kDefaultAddress));
    FUZZ_CHECK(linked.rdrEEPROM == direct.rdrEEPROM);
    FUZZ_CHECK(linked.Control == 0x02 && card.control() == 0x02);
    if (image.startsWith("KALVOR"))
        FUZZ_CHECK(result == 0);
    else if (!image.startsWith("KAL"))
        FUZZ_CHECK(result == 1003);
    else
        FUZZ_CHECK(result == 1004);
    if (result == 0) {
        const IdentityCaptions again = parseEEPROM(linked, settings());
        FUZZ_CHECK(sameCaptions(again, captions) && linked.rdrGain == direct.rdrGain);
    }

    setMessageSink(previous);
    return 0;
}
