// JSON text from outside the process: any bytes parse or are refused without leaking, and what
// parses is written by Qt and parsed again to the same text. Texts that are valid JSON
// (RFC 8259) without a repeated key are also given to Qt's own parser, which must take exactly
// those this parser takes and make the same values of them. (Qt is not asked about other texts:
// it leaks on repeated keys, the reason this parser exists, and it takes some invalid texts that
// this parser refuses on purpose.)
#include "RDJsonParser.h"
#include "RDJsonValueBuilder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVariant>

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

using Json = nlohmann::json;

// Whether the text is valid JSON whose objects name no key twice.
class ValidWithoutRepeats
{
public:
    bool null() { return true; }
    bool boolean(bool) { return true; }
    bool number_integer(Json::number_integer_t) { return true; }
    bool number_unsigned(Json::number_unsigned_t) { return true; }
    bool number_float(Json::number_float_t, const Json::string_t&) { return true; }
    bool string(Json::string_t&) { return true; }
    bool binary(Json::binary_t&) { return false; }
    bool start_object(std::size_t)
    {
        m_open.emplace_back();
        return true;
    }
    bool key(Json::string_t& key) { return m_open.back().insert(key).second; }
    bool end_object()
    {
        m_open.pop_back();
        return true;
    }
    bool start_array(std::size_t)
    {
        m_open.emplace_back();
        return true;
    }
    bool end_array()
    {
        m_open.pop_back();
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

private:
    std::vector<std::set<std::string>> m_open;
};

bool validWithoutRepeats(const uint8_t* data, size_t size)
{
    ValidWithoutRepeats events;
    return Json::sax_parse(data, data + size, &events, Json::input_format_t::json, true, false);
}

// Equal as every reader in the program sees them, with the same kind of number (qlonglong or
// double) at every place; integers beyond 2^53 as the doubles they round to, which is how
// QJsonArray and QJsonObject store what is inserted into them.
bool same(const QJsonValue& a, const QJsonValue& b)
{
    std::vector<std::pair<QJsonValue, QJsonValue>> pending{{a, b}};
    while (!pending.empty()) {
        const auto [x, y] = pending.back();
        pending.pop_back();
        if (x.type() != y.type())
            return false;
        if (x.isDouble()) {
            if (x.toDouble() != y.toDouble() ||
                (std::abs(x.toDouble()) <= 9007199254740992.0 && x.toVariant().userType() != y.toVariant().userType()))
                return false;
        } else if (x.isArray()) {
            if (x.toArray().size() != y.toArray().size())
                return false;
            for (int i = 0; i < x.toArray().size(); ++i)
                pending.emplace_back(x.toArray().at(i), y.toArray().at(i));
        } else if (x.isObject()) {
            if (x.toObject().keys() != y.toObject().keys())
                return false;
            for (const QString& key : x.toObject().keys())
                pending.emplace_back(x.toObject().value(key), y.toObject().value(key));
        } else if (x != y) {
            return false;
        }
    }
    return true;
}

QByteArray compact(const QJsonValue& value)
{
    return value.isObject() ? QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact)
                            : QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1 << 16))
        return 0;
    const char* text = reinterpret_cast<const char*>(data);
    QJsonValue value;
    const RDJsonParser::Status status = RDJsonParser::parse(text, size, &value);
    if (status == RDJsonParser::Status::Ok) {
        // Compared as text: Qt writes a qint64 through a double, so 2^63-1 comes back as 2^63.
        const QByteArray written = compact(value);
        QJsonValue again;
        if (RDJsonParser::parse(written, &again) != RDJsonParser::Status::Ok || compact(again) != written)
            std::abort();
    }
    if (!validWithoutRepeats(data, size))
        return 0;
    QJsonParseError error{};
    const QJsonDocument qt = QJsonDocument::fromJson(QByteArray::fromRawData(text, int(size)), &error);
    const bool qtTook = error.error == QJsonParseError::NoError;
    if (qtTook != (status == RDJsonParser::Status::Ok))
        std::abort();
    if (qtTook && !same(value, qt.isObject() ? QJsonValue(qt.object()) : QJsonValue(qt.array())))
        std::abort();
    return 0;
}
