#include "RDJsonParser.h"

#include "RDJsonValueBuilder.h"

#include <nlohmann/json.hpp>

#include <QString>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

using Json = nlohmann::json;
using Status = RDJsonParser::Status;

// nlohmann's parser keeps its nesting on the heap, not on the stack; an event answered with
// false ends the parse at once.
class Events
{
public:
    explicit Events(RDJsonValueBuilder& builder)
        : m_builder(builder)
    {
    }

    Status failure() const { return m_failure; }

    bool null()
    {
        m_builder.value(QJsonValue(QJsonValue::Null));
        return true;
    }

    bool boolean(bool value)
    {
        m_builder.value(QJsonValue(value));
        return true;
    }

    // Qt's QJsonObject and QJsonArray store every number they are given through a double
    // (QCborValue::fromJsonValue), so whole numbers go the same way here.
    bool number_integer(Json::number_integer_t value)
    {
        m_builder.value(RDJsonValueBuilder::number(static_cast<double>(value)));
        return true;
    }

    bool number_unsigned(Json::number_unsigned_t value)
    {
        m_builder.value(RDJsonValueBuilder::number(static_cast<double>(value)));
        return true;
    }

    // RFC 8259 6 leaves the range of numbers to the parser. nlohmann refuses those past the
    // range of a double and reads 0 for those too small for it (1e-400); Qt refused both.
    bool number_float(Json::number_float_t value, const Json::string_t& text)
    {
        if (!std::isfinite(value) || (value == 0 && !isZero(text)))
            return fail(Status::BadNumber);
        m_builder.value(RDJsonValueBuilder::number(value));
        return true;
    }

    bool string(Json::string_t& text)
    {
        m_builder.value(QString::fromUtf8(text.data(), static_cast<int>(text.size())));
        return true;
    }

    // Only the binary formats (CBOR, MessagePack...) have these.
    bool binary(Json::binary_t&) { return fail(Status::Syntax); }

    bool start_object(std::size_t) { return m_builder.beginObject() || fail(Status::TooDeep); }

    bool key(Json::string_t& text)
    {
        m_builder.key(text.data(), text.size());
        return true;
    }

    bool end_object()
    {
        m_builder.endObject();
        return true;
    }

    bool start_array(std::size_t) { return m_builder.beginArray() || fail(Status::TooDeep); }

    bool end_array()
    {
        m_builder.endArray();
        return true;
    }

    // The reasons are only in the message: "invalid string" and "invalid number" from the
    // lexer, "number overflow" (past the range of a double) from the parser.
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error)
    {
        if (std::strstr(error.what(), "invalid string"))
            return fail(Status::BadString);
        if (std::strstr(error.what(), "invalid number") || std::strstr(error.what(), "number overflow"))
            return fail(Status::BadNumber);
        return fail(Status::Syntax);
    }

private:
    // Whether a number's text, before its exponent, has only zero digits.
    static bool isZero(const Json::string_t& text)
    {
        for (const char c : text) {
            if (c == 'e' || c == 'E')
                break;
            if (c >= '1' && c <= '9')
                return false;
        }
        return true;
    }

    bool fail(Status status)
    {
        m_failure = status;
        return false;
    }

    RDJsonValueBuilder& m_builder;
    Status m_failure = Status::Syntax;
};

} // namespace

RDJsonParser::Status RDJsonParser::parse(const char* text, size_t length, QJsonValue* value)
{
    // Qt's strings, and with them every key and value, hold at most INT_MAX bytes.
    if (!text || length > static_cast<size_t>(std::numeric_limits<int>::max()))
        return Status::Syntax;
    // nlohmann's lexer reads a zero byte between tokens as the end of the text, so that
    // "{}\0anything" would pass; Qt refused it, and so does this.
    if (std::memchr(text, 0, length))
        return Status::ZeroByte;
    RDJsonValueBuilder builder;
    Events events(builder);
    if (!Json::sax_parse(text, text + length, &events, Json::input_format_t::json, true, false))
        return events.failure();
    const QJsonValue result = builder.result();
    if (!result.isObject() && !result.isArray())
        return Status::NotAContainer;
    if (value)
        *value = result;
    return Status::Ok;
}

RDJsonParser::Status RDJsonParser::parse(const QByteArray& text, QJsonValue* value)
{
    return parse(text.constData(), static_cast<size_t>(text.size()), value);
}

RDJsonParser::Status RDJsonParser::parseObject(const char* text, size_t length, QJsonObject* object)
{
    QJsonValue value;
    const Status status = parse(text, length, &value);
    if (status != Status::Ok)
        return status;
    if (!value.isObject())
        return Status::NotAnObject;
    if (object)
        *object = value.toObject();
    return Status::Ok;
}

RDJsonParser::Status RDJsonParser::parseObject(const QByteArray& text, QJsonObject* object)
{
    return parseObject(text.constData(), static_cast<size_t>(text.size()), object);
}
