#pragma once

// The outcome of reading one request: Ok, or the reason it was refused. Parsers return it; the
// connection turns it into its answer in one place (RDHttpConnection::statusCode).
enum class RDHttpParseStatus
{
    Ok,
    MalformedRequestLine,   // not "method target version" (RFC 9112 3)
    MalformedContentLength, // not a plain decimal number, or two different values (RFC 9112 6.3)
    TransferCoding,         // Transfer-Encoding: bodies are framed by Content-Length only
    HeadTooLarge,
    BodyTooLarge,
    HeadTimedOut,
    BodyTimedOut,
    BodyStoreFailed, // the body's memory or file store refused bytes
};

// A short text for the log.
const char* describeParseStatus(RDHttpParseStatus status);
