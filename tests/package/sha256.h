// SHA-256 of a byte string, as lower-case hexadecimal (what sha256sum and certutil print).
#pragma once

#include <string>
#include <vector>

std::string Sha256Hex(const std::vector<unsigned char>& bytes);
