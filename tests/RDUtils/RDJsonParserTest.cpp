#include "RDJsonParser.h"
#include "RDJsonValueBuilder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QVariant>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using Status = RDJsonParser::Status;

QByteArray nested(int depth, const QByteArray& inner = QByteArray())
{
    return QByteArray(depth, '[') + inner + QByteArray(depth, ']');
}

// Equal as every reader in the program sees them, with the same kind of number at every place
// (Qt's parser stores whole numbers as qlonglong, and the checked readers tell them from
// doubles). Integers beyond 2^53 are compared as the doubles they round to: QJsonArray and
// QJsonObject store what is inserted into them through a double.
::testing::AssertionResult sameValue(const QJsonValue& a, const QJsonValue& b)
{
    std::vector<std::pair<QJsonValue, QJsonValue>> pending{{a, b}};
    while (!pending.empty()) {
        const auto [x, y] = pending.back();
        pending.pop_back();
        if (x.type() != y.type())
            return ::testing::AssertionFailure() << "types " << x.type() << " and " << y.type();
        if (x.isDouble()) {
            if (x.toDouble() != y.toDouble())
                return ::testing::AssertionFailure() << x.toDouble() << " against " << y.toDouble();
            if (std::abs(x.toDouble()) <= 9007199254740992.0 && x.toVariant().userType() != y.toVariant().userType())
                return ::testing::AssertionFailure() << x.toVariant().typeName() << " against " << y.toVariant().typeName();
        } else if (x.isArray()) {
            if (x.toArray().size() != y.toArray().size())
                return ::testing::AssertionFailure() << "array sizes differ";
            for (int i = 0; i < x.toArray().size(); ++i)
                pending.emplace_back(x.toArray().at(i), y.toArray().at(i));
        } else if (x.isObject()) {
            if (x.toObject().keys() != y.toObject().keys())
                return ::testing::AssertionFailure() << "keys differ";
            for (const QString& key : x.toObject().keys())
                pending.emplace_back(x.toObject().value(key), y.toObject().value(key));
        } else if (x != y) {
            return ::testing::AssertionFailure() << "values differ";
        }
    }
    return ::testing::AssertionSuccess();
}

} // namespace

// What Qt's parser took and refused, and the few texts RFC 8259 refuses that Qt took.
TEST(RDJsonParser, StatusTable)
{
    const struct
    {
        const char* name;
        QByteArray text;
        Status status;
    } cases[] = {
        {"object", R"({"a":1})", Status::Ok},
        {"array", "[1,2]", Status::Ok},
        {"blanks around", " \t\r\n{} \n", Status::Ok},
        {"byte order mark", "\xef\xbb\xbf{}", Status::Ok},
        {"empty", "", Status::Syntax},
        {"blanks only", "  ", Status::Syntax},
        {"number", "1", Status::NotAContainer},
        {"string", R"("s")", Status::NotAContainer},
        {"null", "null", Status::NotAContainer},
        {"cut short", R"({"id":)", Status::Syntax},
        {"text after the value", "{} x", Status::Syntax},
        {"second value", "{}{}", Status::Syntax},
        {"trailing comma", "[1,]", Status::Syntax},
        {"single quotes", "{'a':1}", Status::Syntax},
        {"comment", "[1]//c", Status::Syntax},
        {"zero byte after the value", QByteArray("{}\0x", 4), Status::ZeroByte},
        {"zero byte alone after the value", QByteArray("{}\0", 3), Status::ZeroByte},
        {"zero byte in a string", QByteArray("[\"a\0b\"]", 7), Status::ZeroByte},
        {"escaped zero", R"(["\u0000"])", Status::Ok},
        {"control character", "[\"a\x01\"]", Status::BadString},
        {"unknown escape", R"(["\q"])", Status::BadString},
        {"invalid UTF-8", "[\"\xff\"]", Status::BadString},
        {"overlong UTF-8", "[\"\xc0\xaf\"]", Status::BadString},
        {"UTF-8 of a surrogate", "[\"\xed\xa0\x80\"]", Status::BadString},
        {"past U+10FFFF", "[\"\xf4\x90\x80\x80\"]", Status::BadString},
        {"invalid UTF-8 in a key", "{\"\xff\":1}", Status::BadString},
        {"lone high surrogate", R"(["\ud800"])", Status::BadString},
        {"lone low surrogate", R"(["\udc00"])", Status::BadString},
        {"surrogate pair", R"(["\ud83d\ude00"])", Status::Ok},
        {"number 1.", "[1.]", Status::BadNumber},
        {"number .5", "[.5]", Status::Syntax},
        {"number 01", "[01]", Status::Syntax},
        {"number -", "[-]", Status::BadNumber},
        {"number past a double", "[1e400]", Status::BadNumber},
        {"negative number past a double", "[-1e400]", Status::BadNumber},
        {"number below a double", "[1e-400]", Status::BadNumber},
        {"zero with a large exponent", "[0e-400]", Status::Ok},
        {"repeated key", R"({"a":{"b":[]},"a":7})", Status::Ok},
        {"containers at the limit", nested(RDJsonValueBuilder::kMaxDepth), Status::Ok},
        {"one container past it", nested(RDJsonValueBuilder::kMaxDepth + 1), Status::TooDeep},
        {"objects past it", QByteArray(R"({"a":)").repeated(RDJsonValueBuilder::kMaxDepth) + "[]" +
                                QByteArray(RDJsonValueBuilder::kMaxDepth, '}'),
         Status::TooDeep},
        {"16 MiB of [", QByteArray(16 * 1024 * 1024, '['), Status::TooDeep},
    };
    for (const auto& c : cases) {
        QJsonValue value(QStringLiteral("untouched"));
        EXPECT_EQ(RDJsonParser::parse(c.text, &value), c.status) << c.name;
        if (c.status != Status::Ok) {
            EXPECT_EQ(value, QJsonValue(QStringLiteral("untouched"))) << c.name;
        }
    }
}

// Texts without repeated keys give exactly what Qt's own parser gives, number kinds included.
TEST(RDJsonParser, ValuesAreThoseOfQtsParser)
{
    const QByteArray texts[] = {
        R"({"id":1,"method":"StartRtp","rtpId":3,"type":5})",
        R"({"id":"a1","method":"getrtp","nested":{"list":[1,[2,[3,{}]],null,true,false,""]}})",
        // Whole numbers, however written, are integers within qint64; all else doubles.
        R"([0,-0,1.0,-0.0,1e2,1E+2,2.5,0.1,-7,1e-320,1.5e300,4.5e15])",
        R"([9223372036854775807,-9223372036854775808,9223372036854775808,-9223372036854775809])",
        R"([18446744073709551615,18446744073709551616,123456789012345678901234,9.2e18,9.3e18])",
        R"([9007199254740993,9007199254740993.0,1.7976931348623157e308,-1.7976931348623157e308])",
        R"({"text":"\"\\\/\b\f\n\r\t\u00e9\u4e2d\ud83d\ude00","utf8":"é中😀","":"empty key"})",
        "\xef\xbb\xbf [ {\"a\" : [ ] } , { } ] ",
        nested(RDJsonValueBuilder::kMaxDepth, "7"),
    };
    for (const QByteArray& text : texts) {
        QJsonParseError error{};
        const QJsonDocument qt = QJsonDocument::fromJson(text, &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << text.left(80).constData();
        const QJsonValue expected = qt.isObject() ? QJsonValue(qt.object()) : QJsonValue(qt.array());
        QJsonValue value;
        ASSERT_EQ(RDJsonParser::parse(text, &value), Status::Ok) << text.left(80).constData();
        EXPECT_TRUE(sameValue(value, expected)) << text.left(80).constData();
    }
}

// Of keys repeated in one object the last one wins, at any depth, whatever the earlier values
// were. Qt's parser gives the same values but leaks the earlier objects and arrays, so the
// expected values are written out here; LeakSanitizer watches the parses.
TEST(RDJsonParser, RepeatedKeysKeepTheLastValue)
{
    const struct
    {
        QByteArray text;
        QJsonValue expected;
    } cases[] = {
        {R"({"a":{"b":[]},"a":7})", QJsonObject{{"a", 7}}},
        {R"({"id":{"a":[1,2,3]},"id":1,"method":{"a":[]},"method":"Nope"})",
         QJsonObject{{"id", 1}, {"method", "Nope"}}},
        {R"({"a":1,"a":[1],"a":{"x":{}},"a":"last"})", QJsonObject{{"a", "last"}}},
        {R"({"a":7,"a":{"b":[]}})", QJsonObject{{"a", QJsonObject{{"b", QJsonArray()}}}}},
        {R"([{"k":[{"k":{}},{"k":[]}],"k":{"k":[1],"k":{"k":2,"k":3}}}])",
         QJsonArray{QJsonObject{{"k", QJsonObject{{"k", QJsonObject{{"k", 3}}}}}}}},
        {R"({"z":1,"a":{},"m":2,"a":[],"z":3,"b":4})", QJsonObject{{"a", QJsonArray()}, {"b", 4}, {"m", 2}, {"z", 3}}},
    };
    for (int round = 0; round < 1000; ++round) {
        for (const auto& c : cases) {
            QJsonValue value;
            ASSERT_EQ(RDJsonParser::parse(c.text, &value), Status::Ok) << c.text.constData();
            ASSERT_TRUE(sameValue(value, c.expected)) << c.text.constData();
        }
    }
}

// An object of many keys, repeated and in no order (as a hostile message may send them),
// keeps every key once with its last value.
TEST(RDJsonParser, LargeObjectsKeepEveryKeyOnce)
{
    constexpr int kKeys = 20000;
    QByteArray text = "{";
    for (int i = 0; i < kKeys; ++i) {
        const int key = int((i * 7919LL) % kKeys);
        text += "\"k" + QByteArray::number(key) + "\":{\"first\":[" + QByteArray::number(i) + "]},";
    }
    for (int key = kKeys - 1; key >= 0; key -= 2)
        text += "\"k" + QByteArray::number(key) + "\":" + QByteArray::number(key) + ",";
    text[text.size() - 1] = '}';
    QJsonObject object;
    ASSERT_EQ(RDJsonParser::parseObject(text, &object), Status::Ok);
    ASSERT_EQ(object.size(), kKeys);
    for (int key = 0; key < kKeys; ++key) {
        const QJsonValue value = object.value(QStringLiteral("k%1").arg(key));
        if (key % 2 == 1)
            EXPECT_EQ(value, QJsonValue(key)) << key;
        else
            EXPECT_TRUE(value.isObject()) << key;
    }
}

TEST(RDJsonParser, ParseObjectWantsAnObject)
{
    QJsonObject object{{"untouched", true}};
    EXPECT_EQ(RDJsonParser::parseObject(QByteArray("[1]"), &object), Status::NotAnObject);
    EXPECT_EQ(RDJsonParser::parseObject(QByteArray("1"), &object), Status::NotAContainer);
    EXPECT_EQ(object, (QJsonObject{{"untouched", true}}));
    const char text[] = R"({"a":[1]}garbage)";
    EXPECT_EQ(RDJsonParser::parseObject(text, 9, &object), Status::Ok);
    EXPECT_EQ(object, (QJsonObject{{"a", QJsonArray{1}}}));
}
