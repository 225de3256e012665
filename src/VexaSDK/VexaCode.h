#pragma once

#include <QString>

class VexaCodeInfo;

// The connection code that remote apps scan as a QR code or get by discovery to learn how to
// reach the program. Left to right:
//   version "01", kind "01", payload length "%02x", payload, platform "P0", checksum "%02x"
// Codes of another version have no platform field. The checksum is the XOR of the characters
// before it (see checksum). Pure functions on text.
class VexaCode
{
public:
    static constexpr int kMaxPayload = 255; // what two hex digits of length can say

    // The code of a payload; empty when the payload is longer than 255 characters (its length
    // would not fit, and the code would never decode).
    static QString encode(const QString& payload);
    // Fills info and returns true when the text is a code whose checksum (compared without
    // regard to case) matches everything before it; info is left alone otherwise.
    static bool decode(const QString& code, VexaCodeInfo& info);
    // The XOR of the characters first..end-1, each as its Latin-1 code read as a signed 8-bit
    // value (0 for a character outside Latin-1), printed "%02x" as an unsigned 32-bit value:
    // two hex digits for ASCII, "ffffff" and two more when an odd number of the characters lie
    // in 0x80-0xFF (such a code never decodes, as apps compute it the same way).
    static QString checksum(const QString& text, int first, int end);
};
