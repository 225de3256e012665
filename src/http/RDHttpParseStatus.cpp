#include "RDHttpParseStatus.h"

const char* describeParseStatus(RDHttpParseStatus status)
{
    switch (status) {
    case RDHttpParseStatus::Ok:
        return "ok";
    case RDHttpParseStatus::MalformedRequestLine:
        return "malformed request line";
    case RDHttpParseStatus::MalformedContentLength:
        return "malformed Content-Length";
    case RDHttpParseStatus::TransferCoding:
        return "transfer codings are not supported";
    case RDHttpParseStatus::HeadTooLarge:
        return "head too large";
    case RDHttpParseStatus::BodyTooLarge:
        return "body too large";
    case RDHttpParseStatus::HeadTimedOut:
        return "head incomplete";
    case RDHttpParseStatus::BodyTimedOut:
        return "body incomplete";
    case RDHttpParseStatus::BodyStoreFailed:
        return "body store refused the bytes";
    }
    return "unknown";
}
