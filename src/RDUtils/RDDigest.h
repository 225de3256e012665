#pragma once

#include <cstdint>
#include <string>

// Base64 (RFC 4648, standard alphabet, padded, no line breaks) and SHA-1 (FIPS 180-1 / RFC 3174),
// as the WebSocket handshake and HTTP Basic authentication need them.

std::string base64Encode(const unsigned char* data, int length);
std::string base64Encode(const std::string& bytes);

constexpr int kSha1DigestSize = 20;

// Writes the 20-byte digest. 0 on success; 1 for null data with a non-zero length, a negative
// length or a null digest pointer.
int sha1(const char* data, int length, unsigned char* digest);
// One 64-byte block step over the five-word state.
void sha1ProcessBlock(uint32_t state[5], const unsigned char block[64]);
