#include "RDQRCode.h"

#include "TestSupport.h"

#include <QDir>

#include <gtest/gtest.h>

// The image is read back by a real decoder, so a wrong module placement or encoding fails.
TEST(RDQRCode, DecodesToTheSameText)
{
    SONARIS_REQUIRE_COMMANDS("zbarimg");
    // Kept in the test output folder for a look.
    const QString dir = TestSupport::binaryDir() + "/test-output/test_rdutils";
    QDir().mkpath(dir);
    const QString path = dir + "/qr_code.png";
    // A connection code as the QR dialogs show it, with non-ASCII text in the name.
    const QString text = QString::fromUtf8(
        "{\"uid\":\"QVSN-000123-ABCDEF\",\"ip\":\"127.0.0.1\",\"port\":6011,\"name\":\"B\xC3\xBCro\"}");
    const QImage image = createQRCodeImage(text, 300, 300, 200);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(300, 300));
    ASSERT_TRUE(image.save(path, "PNG"));

    const TestSupport::Result r = TestSupport::run("zbarimg", {"--raw", "-q", "-Sbinary", path});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    QByteArray decoded = r.out;
    while (decoded.endsWith('\n'))
        decoded.chop(1);
    EXPECT_EQ(QString::fromUtf8(decoded), text);
}

TEST(RDQRCode, MarginIsWhiteAndSymbolCentred)
{
    const QImage image = createQRCodeImage("sonaris", 300, 300, 200);
    ASSERT_FALSE(image.isNull());
    int dark = 0;
    for (int y = 0; y < 300; ++y) {
        for (int x = 0; x < 300; ++x) {
            const bool inSymbol = x >= 50 && x < 250 && y >= 50 && y < 250;
            const QRgb pixel = image.pixel(x, y);
            if (!inSymbol)
                ASSERT_EQ(pixel, qRgb(255, 255, 255)) << x << "," << y;
            else if (qGray(pixel) < 128)
                ++dark;
        }
    }
    // The finder pattern puts a dark module in the symbol's top-left corner.
    EXPECT_LT(qGray(image.pixel(52, 52)), 128);
    EXPECT_GT(dark, 200 * 200 / 4);
}

TEST(RDQRCode, TooLongTextGivesNullImage)
{
    EXPECT_TRUE(createQRCodeImage(QString(2000, QLatin1Char('x')), 300, 300, 200).isNull());
}
