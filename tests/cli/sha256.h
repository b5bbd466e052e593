// SHA-256 of a byte string, as 64 lower-case hexadecimal digits.
#pragma once

#include <string>

namespace cli {

std::string sha256(const std::string &bytes);

}  // namespace cli
