#pragma once
// The update endpoints are kept enciphered in the program: AES-256-CBC, all-zero IV, a key built at run
// time, stored as lowercase hexadecimal text. Qt-free, so that the build's generator uses the same code.

#include <cstddef>
#include <string>

// Lengths of the stored texts in hexadecimal digits.
constexpr size_t kHostHexDigits = 32;         // primary host
constexpr size_t kLongHostHexDigits = 64;     // secondary host
constexpr size_t kVersionPathHexDigits = 64;  // each version path
constexpr size_t kDownloadBaseHexDigits = 96; // each download base

// Longest plain text that fits in hexDigits: one byte is kept for the terminating NUL.
constexpr size_t EndpointCapacity(size_t hexDigits)
{
    return hexDigits < 2 ? 0 : hexDigits / 2 - 1;
}

// plain (zero-padded) enciphered into hexDigits lowercase hex digits. 0, or -1 when it does not fit or
// hexDigits is not an even count of whole 16-byte blocks.
int EncipherEndpoint(const std::string &plain, size_t hexDigits, std::string &hex);
// The plain text up to the first NUL. 0, or -1 when hex is not whole blocks of hex digits.
int DecipherEndpoint(const char *hex, std::string &plain);
