// The decode fuzzer's mutator: half its edits are libFuzzer's own, byte by
// byte; the others edit the stream by whole segments, so that inputs keep
// passing the checks that guard what lies behind them: a segment dropped,
// repeated or moved, a segment's body mutated with its length field kept
// true, a restart marker in a block's coded data, a restart interval
// segment before a block, a second stream after the first.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

extern "C" size_t LLVMFuzzerMutate(uint8_t *data, size_t size, size_t max_size);

namespace {

using bytes = std::vector<uint8_t>;

// [begin, end) of the input: a segment (a block with its coded data), or
// the start marker, or what follows the last segment.
struct piece {
    size_t begin, end;
    bool segment;
};

bool is_restart(uint8_t code)
{
    return code >= 0xB0 && code <= 0xB7;
}

// The pieces of a stream; none if it does not begin with the start marker.
std::vector<piece> pieces_of(const bytes &s)
{
    std::vector<piece> out;
    if (s.size() < 2 || s[0] != 0xFF || s[1] != 0xA0)
        return out;
    out.push_back({0, 2, false});
    size_t at = 2;
    while (at + 4 <= s.size() && s[at] == 0xFF && s[at + 1] != 0xA1) {
        size_t end = at + 2 + (s[at + 2] << 8 | s[at + 3]);
        if (end < at + 4 || end > s.size())
            break;
        if (s[at + 1] == 0xA3)
            while (end + 1 < s.size() && !(s[end] == 0xFF && s[end + 1] != 0 && !is_restart(s[end + 1])))
                ++end;
        out.push_back({at, end, true});
        at = end;
    }
    out.push_back({at, s.size(), false});
    return out;
}

bytes slice(const bytes &s, const piece &p)
{
    return bytes(s.begin() + p.begin, s.begin() + p.end);
}

// A segment's body through libFuzzer's mutations, its length field made to
// match; a block's header stays, its coded data is mutated.
bytes mutated(const bytes &segment, size_t max_size)
{
    bool block = segment[1] == 0xA3;
    size_t head = block ? 5 : 4;
    bytes body(segment.begin() + head, segment.end());
    size_t room = block ? max_size : 65533;
    body.resize(std::max(body.size(), room));
    body.resize(LLVMFuzzerMutate(body.data(), segment.size() - head, room));
    bytes out(segment.begin(), segment.begin() + head);
    out.insert(out.end(), body.begin(), body.end());
    if (!block) {
        out[2] = (uint8_t)((out.size() - 2) >> 8);
        out[3] = (uint8_t)(out.size() - 2);
    }
    return out;
}

bytes edited(const bytes &s, std::minstd_rand &random, size_t max_size)
{
    std::vector<piece> pieces = pieces_of(s);
    std::vector<size_t> segments, blocks;
    for (size_t i = 0; i < pieces.size(); ++i)
        if (pieces[i].segment) {
            segments.push_back(i);
            if (s[pieces[i].begin + 1] == 0xA3)
                blocks.push_back(i);
        }
    if (segments.empty())
        return s;
    std::vector<bytes> parts;
    for (const piece &p : pieces)
        parts.push_back(slice(s, p));
    size_t a = segments[random() % segments.size()], b = segments[random() % segments.size()];
    switch (random() % 6) {
    case 0:
        parts.erase(parts.begin() + a);
        break;
    case 1:
        parts.insert(parts.begin() + b, parts[a]);
        break;
    case 2:
        std::swap(parts[a], parts[b]);
        break;
    case 3:
        parts[a] = mutated(parts[a], max_size);
        break;
    case 4:
        if (!blocks.empty()) {
            bytes &block = parts[blocks[random() % blocks.size()]];
            size_t at = 5 + random() % (block.size() - 4);
            block.insert(block.begin() + std::min(at, block.size()), {0xFF, (uint8_t)(0xB0 + random() % 8)});
        } else {
            parts.insert(parts.begin() + b, bytes{0xFF, 0xA7, 0, 4, 0, (uint8_t)(1 + random() % 4)});
        }
        break;
    default: {
        bytes stream;
        for (const bytes &part : parts)
            stream.insert(stream.end(), part.begin(), part.end());
        parts.push_back(stream);
    }
    }
    bytes out;
    for (const bytes &part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

}  // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t *data, size_t size, size_t max_size, unsigned seed)
{
    std::minstd_rand random(seed);
    if (random() % 2)
        return LLVMFuzzerMutate(data, size, max_size);
    bytes out = edited(bytes(data, data + size), random, max_size);
    if (out.size() > max_size || out == bytes(data, data + size))
        return LLVMFuzzerMutate(data, size, max_size);
    std::memcpy(data, out.data(), out.size());
    return out.size();
}
