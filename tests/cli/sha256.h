// SHA-256 of bytes in memory, as hexadecimal digits: the digests of the
// goldens, computed in the test so that it needs no tool of the machine that
// runs it (an emulated Windows has no sha256sum).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

inline std::string sha256_hex(const std::string &bytes)
{
    static const std::uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
        0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
        0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
        0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
        0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
        0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
        0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
    std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    auto rotate = [](std::uint32_t x, int n) { return x >> n | x << (32 - n); };
    std::string message = bytes + '\x80';
    message.append((120 - message.size() % 64) % 64, '\0');
    for (int i = 7; i >= 0; --i)
        message += (char)((std::uint64_t)bytes.size() * 8 >> (8 * i));
    for (size_t block = 0; block < message.size(); block += 64) {
        std::uint32_t w[64], s[8];
        for (int i = 0; i < 16; ++i)
            w[i] = (std::uint32_t)(unsigned char)message[block + 4 * i] << 24 |
                   (std::uint32_t)(unsigned char)message[block + 4 * i + 1] << 16 |
                   (std::uint32_t)(unsigned char)message[block + 4 * i + 2] << 8 |
                   (unsigned char)message[block + 4 * i + 3];
        for (int i = 16; i < 64; ++i)
            w[i] = w[i - 16] + (rotate(w[i - 15], 7) ^ rotate(w[i - 15], 18) ^ w[i - 15] >> 3) + w[i - 7] +
                   (rotate(w[i - 2], 17) ^ rotate(w[i - 2], 19) ^ w[i - 2] >> 10);
        for (int i = 0; i < 8; ++i)
            s[i] = h[i];
        for (int i = 0; i < 64; ++i) {
            std::uint32_t t1 = s[7] + (rotate(s[4], 6) ^ rotate(s[4], 11) ^ rotate(s[4], 25)) +
                               ((s[4] & s[5]) ^ (~s[4] & s[6])) + k[i] + w[i];
            std::uint32_t t2 = (rotate(s[0], 2) ^ rotate(s[0], 13) ^ rotate(s[0], 22)) +
                               ((s[0] & s[1]) ^ (s[0] & s[2]) ^ (s[1] & s[2]));
            for (int j = 7; j > 0; --j)
                s[j] = s[j - 1];
            s[4] += t1;
            s[0] = t1 + t2;
        }
        for (int i = 0; i < 8; ++i)
            h[i] += s[i];
    }
    std::string hex;
    char digits[9];
    for (std::uint32_t word : h) {
        std::snprintf(digits, sizeof digits, "%08x", word);
        hex += digits;
    }
    return hex;
}
