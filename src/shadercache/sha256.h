#pragma once

#include <string>

// SHA-256 (FIPS 180-4) of a byte string; the result is the 32-byte digest.
std::string Sha256Digest(std::string message);
