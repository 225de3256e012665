#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>

#include <cstddef>

// The one parser of JSON text that comes from outside the process (remote apps, LAN discovery,
// the devices' frames and web interfaces). It reads with nlohmann/json and gives the Qt values
// QJsonDocument::fromJson gives, without Qt 5.15's parser, which leaks about 110 bytes for every
// repeated key whose earlier value is an object or an array.
//
// What it keeps of Qt's parser: the text must be one object or array (a leading UTF-8 byte order
// mark and blanks around it allowed); of a key repeated in one object the last value counts;
// whole numbers within the range of qint64 are integers, other numbers doubles (see
// RDJsonValueBuilder::number); numbers beyond a double (1e400, 1e-400) are refused, and so are
// more than RDJsonValueBuilder::kMaxDepth nested containers. Where Qt was laxer than
// RFC 8259 this parser refuses: a zero byte anywhere, raw control characters and unknown escapes
// in strings, lone UTF-16 surrogate escapes, numbers such as "1." or ".5".
//
// Pure functions, for any thread. Nothing is logged: each caller logs what it drops, its own way.
class RDJsonParser
{
public:
    enum class Status {
        Ok,
        Syntax,       // not JSON text: cut short, a stray character, text after the value
        BadString,    // a string with invalid UTF-8, a control character or a bad escape
        BadNumber,    // a malformed number, or one beyond the range of a double
        TooDeep,      // containers nested deeper than RDJsonValueBuilder::kMaxDepth
        ZeroByte,     // a zero byte in the text
        NotAContainer, // valid JSON, but a single string, number, boolean or null
        NotAnObject   // parseObject only: valid JSON, but an array
    };

    // The object or array of text in *value (set only when Ok).
    static Status parse(const char* text, size_t length, QJsonValue* value);
    static Status parse(const QByteArray& text, QJsonValue* value);
    // The same for callers that want an object: an array is NotAnObject.
    static Status parseObject(const char* text, size_t length, QJsonObject* object);
    static Status parseObject(const QByteArray& text, QJsonObject* object);
};
