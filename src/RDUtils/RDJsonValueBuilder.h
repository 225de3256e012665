#pragma once

#include <QJsonArray>
#include <QJsonValue>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// Assembles the Qt JSON value of a document from a parser's events (begin and end of objects
// and arrays, keys, scalar values), without recursion: open containers wait on an explicit
// stack, at most kMaxDepth deep. The result is what QJsonDocument::fromJson gives for the same
// text: of keys repeated in one object the last one wins, numbers follow number().
//
// An object's members are collected first and inserted once each, in key order (QJsonObject
// inserts that way without moving its members; see the source).
//
// One builder serves one document, on one thread.
class RDJsonValueBuilder
{
public:
    // Containers that may be open at once: Qt's own nesting limit, so that documents Qt took
    // are still taken and deeper ones are still refused.
    static constexpr int kMaxDepth = 1024;

    // False, and nothing changed, when the container would be nested deeper than kMaxDepth.
    bool beginObject();
    bool beginArray();
    // The key of the next value of the innermost open object, as UTF-8.
    void key(const char* text, size_t length);
    // A scalar, or the value of the innermost open object or array.
    void value(QJsonValue value);
    // Close the innermost open container; it becomes the value of its parent (or the result).
    void endObject();
    void endArray();

    // The finished document; undefined while containers are open or before anything came.
    QJsonValue result() const { return m_result; }

    // A JSON number as Qt 5.15 stores it: a whole number within the range of qint64 as that
    // integer, anything else as the double. Qt's own parser keeps integers beyond 2^53 exact,
    // but a value inserted into a QJsonObject or QJsonArray passes through a double, so they
    // read as the double they round to; that is all any reader sees of them (toDouble) anyway.
    static QJsonValue number(double value);

private:
    struct Open
    {
        bool object = false;
        QJsonArray array;
        std::vector<std::pair<std::string, QJsonValue>> members;
        std::string key;
    };

    // Entries past m_depth are kept for the next container, with the room they had.
    std::vector<Open> m_open;
    int m_depth = 0;
    QJsonValue m_result;
};
