#include "VexaCode.h"
#include "VexaCodeInfo.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

// A code of the other layout (no platform field) with its checksum.
QString otherLayout(const QString& version, const QString& payload)
{
    const QString body = version + QStringLiteral("01") + QString::asprintf("%02x", unsigned(payload.size())) + payload;
    return body + VexaCode::checksum(body, 0, body.size());
}

TEST(VexaCode, EncodesAndDecodes)
{
    const struct
    {
        QString payload;
        QString code;
    } rows[] = {
        {QStringLiteral("192.168.1.20:9012"), QStringLiteral("010111192.168.1.20:9012P048")},
        {QString(), QStringLiteral("010100P060")},
        {QStringLiteral("LOOPUID0000000000001"), QString()},
        {QString(255, QLatin1Char('u')), QString()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.payload.toStdString());
        const QString code = VexaCode::encode(row.payload);
        if (!row.code.isEmpty()) {
            EXPECT_EQ(code, row.code);
        }
        EXPECT_EQ(code.size(), row.payload.size() + 10);
        VexaCodeInfo info;
        ASSERT_TRUE(VexaCode::decode(code, info));
        EXPECT_EQ(info.version, QStringLiteral("01"));
        EXPECT_EQ(info.kind, QStringLiteral("01"));
        EXPECT_EQ(info.platform, QStringLiteral("P0"));
        EXPECT_EQ(info.payload, row.payload);
    }
    // Its length would not fit two hex digits.
    EXPECT_EQ(VexaCode::encode(QString(256, QLatin1Char('u'))), QString());
}

TEST(VexaCode, DecodesOnlyWholeCodesWithTheirChecksum)
{
    const QString good = QStringLiteral("010111192.168.1.20:9012P048");
    const struct
    {
        QString code;
        bool decodes;
        QString payload;
        QString platform;
    } rows[] = {
        {good, true, QStringLiteral("192.168.1.20:9012"), QStringLiteral("P0")},
        {good + QStringLiteral("x"), false, {}, {}},          // text after the checksum
        {good.left(good.size() - 1), false, {}, {}},          // checksum cut short
        {QStringLiteral("010111192.168.1.20:9013P048"), false, {}, {}},
        {QStringLiteral("0101000"), false, {}, {}},           // too short for platform and checksum
        {QStringLiteral("010100"), false, {}, {}},
        {QString(), false, {}, {}},
        {QStringLiteral("0101zz"), false, {}, {}},
        // Not hexadecimal: a length of 0.
        {QStringLiteral("0101zzP0") + VexaCode::checksum(QStringLiteral("0101zzP0"), 0, 8), true, QString(),
         QStringLiteral("P0")},
        // Upper-case length digits.
        {QStringLiteral("01010AabcdefghijP0") + VexaCode::checksum(QStringLiteral("01010AabcdefghijP0"), 0, 18), true,
         QStringLiteral("abcdefghij"), QStringLiteral("P0")},
        {otherLayout(QStringLiteral("02"), QStringLiteral("UID-7")), true, QStringLiteral("UID-7"), QString()},
        {otherLayout(QStringLiteral("02"), QString()), true, QString(), QString()},
        {otherLayout(QStringLiteral("02"), QStringLiteral("UID-7")) + QStringLiteral("0"), false, {}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.code.toStdString());
        VexaCodeInfo info;
        info.payload = QStringLiteral("untouched");
        EXPECT_EQ(VexaCode::decode(row.code, info), row.decodes);
        if (row.decodes) {
            EXPECT_EQ(info.payload, row.payload);
            EXPECT_EQ(info.platform, row.platform);
        } else {
            EXPECT_EQ(info.payload, QStringLiteral("untouched"));
        }
    }
}

TEST(VexaCode, ChecksumIsComparedWithoutCaseAndCountsLatin1AsSigned)
{
    // A body whose checksum has a letter: written in either case, it matches.
    QString body;
    for (const QChar c : QStringLiteral("abcdefghijklmnop")) {
        body = QStringLiteral("0101") + QString::asprintf("%02x", 1) + QString(c) + QStringLiteral("P0");
        if (VexaCode::checksum(body, 0, body.size()).contains(QRegularExpression(QStringLiteral("[a-f]"))))
            break;
    }
    const QString sum = VexaCode::checksum(body, 0, body.size());
    ASSERT_TRUE(sum.contains(QRegularExpression(QStringLiteral("[a-f]")))) << sum.toStdString();
    VexaCodeInfo info;
    EXPECT_TRUE(VexaCode::decode(body + sum.toUpper(), info));
    EXPECT_TRUE(VexaCode::decode(body + sum.toLower(), info));

    EXPECT_EQ(VexaCode::checksum(QStringLiteral("A"), 0, 1), QStringLiteral("41"));
    EXPECT_EQ(VexaCode::checksum(QStringLiteral("AA"), 0, 2), QStringLiteral("00"));
    // One character above 0x7F counts as negative: an odd number of them gives eight digits.
    EXPECT_EQ(VexaCode::checksum(QString(QChar(0xE9)), 0, 1), QStringLiteral("ffffffe9"));
    EXPECT_EQ(VexaCode::checksum(QString(QChar(0xE9)) + QChar(0xE9), 0, 2), QStringLiteral("00"));
    // Outside Latin-1: 0.
    EXPECT_EQ(VexaCode::checksum(QString(QChar(0x4E2D)) + QLatin1Char('A'), 0, 2), QStringLiteral("41"));
    // Only the range counts; a range past the text stops at its end.
    EXPECT_EQ(VexaCode::checksum(QStringLiteral("xAy"), 1, 2), QStringLiteral("41"));
    EXPECT_EQ(VexaCode::checksum(QStringLiteral("A"), -3, 99), QStringLiteral("41"));
    // Such a payload encodes, but the code never decodes.
    EXPECT_FALSE(VexaCode::decode(VexaCode::encode(QStringLiteral("caf") + QChar(0xE9)), info));
}

} // namespace
