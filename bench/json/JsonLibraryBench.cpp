// The JSON libraries Debian 12 packages, compared as the parser of JSON from outside the
// process: each parses a text and hands on the Qt values the program uses (through the same
// RDJsonValueBuilder, so the figures differ by the library alone), next to Qt's own
// QJsonDocument::fromJson.
//   speed       time per parse and conversion of a small request, a GetRtp reply of about
//               8 KB, one of about 1 MiB (the WebSocket message cap) and an object of 60,000
//               keys in no order (about 1 MiB);
//   strictness  which texts each one takes (1) or refuses (0);
//   depth       deep nesting, up to 16 MiB of '[' (the best of three parses);
//   rss         resident memory before and after 1,000,000 parses of {"a":{"b":[]},"a":7},
//               each parser in a fresh process.
//
//   bench_json_libraries [speed|strictness|depth|rss] [--seconds S] [--count N]
//   bench_json_libraries --rss-child PARSER N      (one rss measurement; used by "rss")

#include "BenchProcess.h"
#include "RDJsonParser.h"
#include "RDJsonValueBuilder.h"
#include "RtpInfo.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>

#include <nlohmann/json.hpp>
#include <rapidjson/encodedstream.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>
#include <simdjson.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

// One parser under test: text in, the object or array out; false when refused.
using Parse = std::function<bool(const QByteArray& text, QJsonValue* value)>;

struct Parser
{
    const char* name;
    Parse parse;
};

bool qtParse(const QByteArray& text, QJsonValue* value)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError)
        return false;
    *value = document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array());
    return true;
}

bool nlohmannParse(const QByteArray& text, QJsonValue* value)
{
    return RDJsonParser::parse(text, value) == RDJsonParser::Status::Ok;
}

class RapidJsonEvents : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, RapidJsonEvents>
{
public:
    explicit RapidJsonEvents(RDJsonValueBuilder& builder)
        : m_builder(builder)
    {
    }
    bool Null() { return put(QJsonValue(QJsonValue::Null)); }
    bool Bool(bool value) { return put(QJsonValue(value)); }
    bool Int(int value) { return put(QJsonValue(qint64(value))); }
    bool Uint(unsigned value) { return put(QJsonValue(qint64(value))); }
    bool Int64(int64_t value) { return put(QJsonValue(qint64(value))); }
    bool Uint64(uint64_t value)
    {
        return put(value <= uint64_t(INT64_MAX) ? QJsonValue(qint64(value)) : RDJsonValueBuilder::number(double(value)));
    }
    bool Double(double value) { return std::isfinite(value) && put(RDJsonValueBuilder::number(value)); }
    bool String(const char* text, rapidjson::SizeType length, bool)
    {
        return put(QString::fromUtf8(text, int(length)));
    }
    bool StartObject() { return m_builder.beginObject(); }
    bool Key(const char* text, rapidjson::SizeType length, bool)
    {
        m_builder.key(text, length);
        return true;
    }
    bool EndObject(rapidjson::SizeType)
    {
        m_builder.endObject();
        return true;
    }
    bool StartArray() { return m_builder.beginArray(); }
    bool EndArray(rapidjson::SizeType)
    {
        m_builder.endArray();
        return true;
    }

private:
    bool put(const QJsonValue& value)
    {
        m_builder.value(value);
        return true;
    }
    RDJsonValueBuilder& m_builder;
};

bool rapidJsonParse(const QByteArray& text, QJsonValue* value)
{
    RDJsonValueBuilder builder;
    RapidJsonEvents events(builder);
    rapidjson::MemoryStream memory(text.constData(), size_t(text.size()));
    // Skips a UTF-8 byte order mark, as Qt does.
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> input(memory);
    rapidjson::Reader reader;
    constexpr unsigned kFlags =
        rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag | rapidjson::kParseFullPrecisionFlag;
    if (reader.Parse<kFlags>(input, events).IsError())
        return false;
    *value = builder.result();
    return value->isObject() || value->isArray();
}

// Walks simdjson's document with an explicit stack of open containers.
bool simdjsonParse(const QByteArray& text, QJsonValue* value)
{
    // The parser keeps its buffers (about 13 bytes for every byte of the largest text so far)
    // from one parse to the next, as simdjson is meant to be used. Its own depth limit lies one
    // above the builder's, which refuses the same texts as the other parsers.
    thread_local simdjson::dom::parser parser(simdjson::SIMDJSON_MAXSIZE_BYTES);
    thread_local const bool sized = parser.allocate(4096, RDJsonValueBuilder::kMaxDepth + 1) == simdjson::SUCCESS;
    if (!sized)
        return false;
    simdjson::dom::element root;
    if (parser.parse(text.constData(), size_t(text.size())).get(root) != simdjson::SUCCESS)
        return false;
    struct Open
    {
        bool object;
        simdjson::dom::object::iterator member, memberEnd;
        simdjson::dom::array::iterator item, itemEnd;
    };
    RDJsonValueBuilder builder;
    std::vector<Open> open;
    // A scalar goes to the builder; a container opens and is walked later.
    auto enter = [&](simdjson::dom::element element) {
        switch (element.type()) {
        case simdjson::dom::element_type::OBJECT: {
            if (!builder.beginObject())
                return false;
            const simdjson::dom::object object = element.get_object().value_unsafe();
            open.push_back({true, object.begin(), object.end(), {}, {}});
            return true;
        }
        case simdjson::dom::element_type::ARRAY: {
            if (!builder.beginArray())
                return false;
            const simdjson::dom::array array = element.get_array().value_unsafe();
            open.push_back({false, {}, {}, array.begin(), array.end()});
            return true;
        }
        case simdjson::dom::element_type::INT64:
            builder.value(QJsonValue(qint64(element.get_int64().value_unsafe())));
            return true;
        case simdjson::dom::element_type::UINT64: {
            const uint64_t n = element.get_uint64().value_unsafe();
            builder.value(n <= uint64_t(INT64_MAX) ? QJsonValue(qint64(n)) : RDJsonValueBuilder::number(double(n)));
            return true;
        }
        case simdjson::dom::element_type::DOUBLE:
            builder.value(RDJsonValueBuilder::number(element.get_double().value_unsafe()));
            return true;
        case simdjson::dom::element_type::STRING: {
            const std::string_view s = element.get_string().value_unsafe();
            builder.value(QString::fromUtf8(s.data(), int(s.size())));
            return true;
        }
        case simdjson::dom::element_type::BOOL:
            builder.value(QJsonValue(element.get_bool().value_unsafe()));
            return true;
        case simdjson::dom::element_type::NULL_VALUE:
            builder.value(QJsonValue(QJsonValue::Null));
            return true;
        }
        return false;
    };
    if (!enter(root))
        return false;
    while (!open.empty()) {
        Open& top = open.back();
        if (top.object) {
            if (top.member == top.memberEnd) {
                open.pop_back();
                builder.endObject();
                continue;
            }
            const std::string_view key = top.member.key();
            builder.key(key.data(), key.size());
            const simdjson::dom::element element = top.member.value();
            ++top.member;
            if (!enter(element))
                return false;
        } else {
            if (top.item == top.itemEnd) {
                open.pop_back();
                builder.endArray();
                continue;
            }
            const simdjson::dom::element element = *top.item;
            ++top.item;
            if (!enter(element))
                return false;
        }
    }
    *value = builder.result();
    return value->isObject() || value->isArray();
}

const Parser kParsers[] = {
    {"Qt fromJson", qtParse},
    {"nlohmann 3.11.2", nlohmannParse},
    {"rapidjson 1.1.0", rapidJsonParse},
    {"simdjson 3.0.1", simdjsonParse},
};

const Parser* parserNamed(const char* name)
{
    for (const Parser& parser : kParsers)
        if (!std::strncmp(parser.name, name, std::strlen(name)))
            return &parser;
    return nullptr;
}

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

RtpInfo channel(int id)
{
    RtpInfo info;
    info.id = id;
    info.sortIndex = id;
    info.name = QStringLiteral("Hall %1").arg(id);
    info.address = QStringLiteral("239.255.0.%1:8000").arg(id % 250);
    info.codec = id % 6;
    info.volume = 80;
    info.source = 1;
    for (int i = 0; i < 3; ++i)
        info.playlist.append(QStringLiteral("/home/music/morning/track %1-%2.mp3").arg(id).arg(i));
    info.httpApi = 1;
    return info;
}

QByteArray getRtpReply(int channels)
{
    QVector<RtpInfo> list;
    for (int i = 1; i <= channels; ++i)
        list.append(channel(i));
    QJsonObject reply{{QStringLiteral("id"), 1}, {QStringLiteral("method"), QStringLiteral("GetRtp")},
                      {QStringLiteral("result"), 0}};
    reply.insert(QStringLiteral("rtps"), RtpInfo::toJsonArray(list));
    return QJsonDocument(reply).toJson(QJsonDocument::Compact);
}

// An object of many distinct keys in no order: what a hostile 1 MiB message may hold.
QByteArray shuffledKeys(int count)
{
    std::vector<int> order(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        order[size_t(i)] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    QByteArray text = "{";
    for (int i : order)
        text += "\"key" + QByteArray::number(i) + "\":" + QByteArray::number(i) + ',';
    text[text.size() - 1] = '}';
    return text;
}

int runSpeed(double seconds)
{
    struct Document
    {
        const char* name;
        QByteArray text;
    };
    int forEightKiB = 1;
    while (getRtpReply(forEightKiB + 1).size() <= 8192)
        ++forEightKiB;
    int forOneMiB = forEightKiB;
    while (getRtpReply(forOneMiB * 2).size() <= 1024 * 1024)
        forOneMiB *= 2;
    while (getRtpReply(forOneMiB + 8).size() <= 1024 * 1024)
        forOneMiB += 8;
    const Document documents[] = {
        {"small request", R"({"id":1,"method":"StartRtp","rtpId":3,"type":5})"},
        {"GetRtp reply", getRtpReply(forEightKiB)},
        {"GetRtp reply, 1 MiB", getRtpReply(forOneMiB)},
        {"60,000 keys in no order", shuffledKeys(60000)},
    };
    for (const Document& document : documents)
        std::printf("%-26s %9d bytes\n", document.name, int(document.text.size()));
    std::printf("\n%-26s", "median time per parse");
    for (const Parser& parser : kParsers)
        std::printf(" | %15s", parser.name);
    std::printf("\n");
    for (const Document& document : documents) {
        std::printf("%-26s", document.name);
        QJsonValue reference;
        qtParse(document.text, &reference);
        for (const Parser& parser : kParsers) {
            QJsonValue value;
            if (!parser.parse(document.text, &value) || value != reference) {
                std::printf(" | %15s", "DIFFERS");
                continue;
            }
            // Rounds of about 10 ms; the median round stands for the parser.
            int perRound = 1;
            for (double t0 = now(); now() - t0 < 0.01; perRound *= 2)
                for (int i = 0; i < perRound; ++i)
                    parser.parse(document.text, &value);
            std::vector<double> rounds;
            for (double start = now(); now() - start < seconds || rounds.size() < 5;) {
                const double t0 = now();
                for (int i = 0; i < perRound; ++i)
                    parser.parse(document.text, &value);
                rounds.push_back((now() - t0) / perRound);
            }
            std::sort(rounds.begin(), rounds.end());
            const double t = rounds[rounds.size() / 2];
            if (t < 1e-3)
                std::printf(" | %12.2f µs", t * 1e6);
            else
                std::printf(" | %12.2f ms", t * 1e3);
        }
        std::printf("\n");
    }
    return 0;
}

int runStrictness()
{
    struct Case
    {
        const char* name;
        QByteArray text;
    };
    const Case cases[] = {
        {"object", R"({"a":1})"},
        {"array", "[1]"},
        {"top-level number", "1"},
        {"top-level string", R"("s")"},
        {"blanks around", " \t\r\n{} \n"},
        {"UTF-8 byte order mark", "\xef\xbb\xbf{}"},
        {"text after the value", "{} x"},
        {"second value", "{}{}"},
        {"zero byte after the value", QByteArray("{}\0x", 4)},
        {"zero byte in a string", QByteArray("[\"a\0b\"]", 7)},
        {"control character in a string", "[\"a\x01\"]"},
        {"escaped zero \\u0000", R"(["\u0000"])"},
        {"unknown escape \\q", R"(["\q"])"},
        {"invalid UTF-8 \\xff", "[\"\xff\"]"},
        {"overlong UTF-8 \\xc0\\xaf", "[\"\xc0\xaf\"]"},
        {"UTF-8 of a surrogate", "[\"\xed\xa0\x80\"]"},
        {"UTF-8 past U+10FFFF", "[\"\xf4\x90\x80\x80\"]"},
        {"lone high surrogate \\ud800", R"(["\ud800"])"},
        {"lone low surrogate \\udc00", R"(["\udc00"])"},
        {"surrogate pair", R"(["\ud83d\ude00"])"},
        {"number 1.", "[1.]"},
        {"number .5", "[.5]"},
        {"number 01", "[01]"},
        {"number +1", "[+1]"},
        {"number -", "[-]"},
        {"number 1e400", "[1e400]"},
        {"number 1e-400", "[1e-400]"},
        {"integer 2^64", "[18446744073709551616]"},
        {"integer of 30 digits", "[123456789012345678901234567890]"},
        {"trailing comma", "[1,]"},
        {"single quotes", "{'a':1}"},
        {"comment", "[1]//c"},
        {"NaN", "[NaN]"},
        {"repeated key", R"({"a":{"b":[]},"a":7})"},
    };
    std::printf("%-32s", "text");
    for (const Parser& parser : kParsers)
        std::printf(" | %15s", parser.name);
    std::printf(" | nlohmann alone\n");
    for (const Case& c : cases) {
        std::printf("%-32s", c.name);
        QJsonValue reference;
        const bool qt = qtParse(c.text, &reference);
        for (const Parser& parser : kParsers) {
            QJsonValue value;
            const bool taken = parser.parse(c.text, &value);
            // A taken text that Qt takes too must give Qt's value.
            std::printf(" | %15s", !taken ? "0" : (!qt || value == reference) ? "1" : "1, other value");
        }
        const bool alone = nlohmann::json::accept(c.text.constData(), c.text.constData() + c.text.size());
        std::printf(" | %d\n", alone);
    }
    return 0;
}

int runDepth()
{
    std::printf("%-30s", "nesting");
    for (const Parser& parser : kParsers)
        std::printf(" | %15s", parser.name);
    std::printf("\n");
    for (int depth : {1024, 1025, 100000, 16 * 1024 * 1024}) {
        const QByteArray text = QByteArray(depth, '[') + QByteArray(depth, ']');
        std::printf("%-30s", qPrintable(QStringLiteral("%1 arrays").arg(depth)));
        for (const Parser& parser : kParsers) {
            QJsonValue value;
            bool taken = false;
            double best = 1e9;
            for (int round = 0; round < 3; ++round) {
                const double t0 = now();
                taken = parser.parse(text, &value);
                best = std::min(best, now() - t0);
            }
            std::printf(" | %5s %6.1f ms", taken ? "taken" : "no", best * 1e3);
        }
        std::printf("\n");
    }
    return 0;
}

int runRssChild(const char* name, int count)
{
    const Parser* parser = parserNamed(name);
    if (!parser)
        return 2;
    const QByteArray text = R"({"a":{"b":[]},"a":7})";
    QJsonValue value;
    parser->parse(text, &value);
    const long before = BenchProcess::rssKiB();
    const double t0 = now();
    for (int i = 0; i < count; ++i)
        parser->parse(text, &value);
    std::printf("%-16s %8ld KiB -> %8ld KiB (%+.1f MB) in %.2f s\n", parser->name, before, BenchProcess::rssKiB(),
                (BenchProcess::rssKiB() - before) * 1024.0 / 1e6, now() - t0);
    return 0;
}

int runRss(const char* self, int count)
{
    std::printf("resident memory across %d parses of {\"a\":{\"b\":[]},\"a\":7}\n", count);
    for (const Parser& parser : kParsers) {
        std::fflush(stdout);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QString::fromLocal8Bit(self),
                    {QStringLiteral("--rss-child"), QString::fromLatin1(parser.name).section(' ', 0, 0),
                     QString::number(count)});
        child.waitForFinished(-1);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && !std::strcmp(argv[1], "--rss-child"))
        return runRssChild(argv[2], std::atoi(argv[3]));
    const char* what = argc > 1 && argv[1][0] != '-' ? argv[1] : "all";
    double seconds = 1.0;
    int count = 1000000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--count"))
            count = std::atoi(argv[i + 1]);
    }
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const bool all = !std::strcmp(what, "all");
    if (all || !std::strcmp(what, "strictness"))
        runStrictness();
    if (all || !std::strcmp(what, "depth"))
        runDepth();
    if (all || !std::strcmp(what, "speed"))
        runSpeed(seconds);
    if (all || !std::strcmp(what, "rss"))
        runRss(argv[0], count);
    return 0;
}
