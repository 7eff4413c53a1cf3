// Test encoders for the three older methods (Shrink, Reduce, Implode), a ZIP writer with
// traditional encryption, and test data. They aim at valid streams that reach the edge
// cases, not at good compression: matching is greedy. Shrink and Implode output is
// checked by Info-ZIP unzip in the tests, so these encoders are proven independently of
// our decoders. No GoogleTest here: the benchmark and the fuzz corpora use them too.
#pragma once

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

namespace legacy {

using Bytes = std::vector<uint8_t>;

// ---- bits, least significant first -----------------------------------------------

class BitWriter {
public:
    void Put(uint32_t value, int bits) {
        for (int i = 0; i < bits; ++i) {
            if (count_ == 0) bytes_.push_back(0);
            bytes_.back() |= uint8_t(((value >> i) & 1) << count_);
            count_ = (count_ + 1) & 7;
        }
    }
    // Writes a code whose first bit is its most significant one.
    void PutMsbFirst(uint32_t code, int bits) {
        for (int i = bits - 1; i >= 0; --i) Put((code >> i) & 1, 1);
    }
    size_t BitCount() const { return bytes_.size() * 8 - (count_ ? 8 - count_ : 0); }
    const Bytes& bytes() const { return bytes_; }

private:
    Bytes bytes_;
    int count_ = 0;  // bits used in the last byte (0: full or none)
};

// ---- greedy LZ77 matching (Reduce and Implode) -----------------------------------

struct Match {
    uint32_t distance = 0;  // 0: no match
    uint32_t length = 0;
};

// Longest match at each position within `maxDistance`, from hash chains over 3 bytes.
// With `zeroHistory` the bytes before the data count as zeros, as in a decoder whose
// window starts cleared, so matches may reach before the first byte.
class MatchFinder {
public:
    MatchFinder(const Bytes& data, uint32_t maxDistance, uint32_t maxLength, bool zeroHistory,
                int chainLimit = 64)
        : data_(data), maxDistance_(maxDistance), maxLength_(maxLength), zeroHistory_(zeroHistory),
          chainLimit_(chainLimit), head_(1 << 16, -1), previous_(data.size(), -1) {}

    // Call for every position in order, whether or not the bytes there are matched.
    void Insert(size_t pos) {
        if (pos + 3 > data_.size()) return;
        const uint32_t h = Hash(pos);
        previous_[pos] = head_[h];
        head_[h] = int32_t(pos);
    }

    Match Find(size_t pos) const {
        Match best;
        if (pos + 3 > data_.size()) return best;
        int chain = chainLimit_;
        for (int32_t candidate = head_[Hash(pos)]; candidate >= 0 && chain-- > 0; candidate = previous_[candidate]) {
            const uint32_t distance = uint32_t(pos - size_t(candidate));
            if (distance > maxDistance_) break;
            Consider(pos, distance, best);
        }
        if (zeroHistory_) {
            // Sources that start before the data: all zeros until they reach it.
            for (uint32_t distance = uint32_t(pos) + 1; distance <= maxDistance_ && distance <= pos + 4; ++distance)
                Consider(pos, distance, best);
            Consider(pos, maxDistance_, best);
        }
        return best;
    }

    uint32_t LengthAt(size_t pos, uint32_t distance) const {
        uint32_t length = 0;
        while (length < maxLength_ && pos + length < data_.size() &&
               data_[pos + length] == Source(int64_t(pos) + length - distance))
            ++length;
        return length;
    }

private:
    uint32_t Hash(size_t pos) const {
        return (uint32_t(data_[pos]) << 8 ^ uint32_t(data_[pos + 1]) << 4 ^ data_[pos + 2] * 2654435761u >> 8) & 0xFFFF;
    }
    uint8_t Source(int64_t at) const { return at < 0 ? 0 : data_[size_t(at)]; }
    void Consider(size_t pos, uint32_t distance, Match& best) const {
        if (distance == 0 || distance > maxDistance_ || (!zeroHistory_ && distance > pos)) return;
        const uint32_t length = LengthAt(pos, distance);
        if (length > best.length) best = {distance, length};
    }

    const Bytes& data_;
    uint32_t maxDistance_, maxLength_;
    bool zeroHistory_;
    int chainLimit_;
    std::vector<int32_t> head_, previous_;
};

// ---- Shrink -----------------------------------------------------------------------
// Dynamic LZW, 9 to 13 bits. The encoder keeps the decoder's table exactly: a code is
// defined when the decoder reads the code after it, at the lowest free slot, and partial
// clearing works on the codes below Next free code only, bit-15 marks and all. Codes
// whose strings a clearing breaks (their prefix freed, or the previous code freed under
// the code defined next) stay in the table but are never written.

struct ShrinkOptions {
    int clearAtNextFree = 0;  // partial clear once Next free code reaches this (0: never)
    int clearEveryCodes = 0;  // partial clear after this many codes (0: never), holes or not
    bool keepPrevious = false;  // clear only after a code that survives the clearing
    bool eagerSizeIncrease = true;  // grow when Next free code needs it, not when a code does
    int junkSubCodeEvery = 0;  // write 256 with a sub-code that means nothing, now and then
};

struct ShrinkStats {
    std::vector<uint32_t> stringLengths;  // one per code that produces output
    int kwkwk = 0, partialClears = 0, clearsWithHoles = 0, reusedFreedCode = 0;
    int previousFreed = 0, brokenCodes = 0, unmarkedFreeCodes = 0, junkSubCodes = 0, maxCodeSize = 9;
    bool tableFilled = false;
};

class ShrinkEncoder {
public:
    static constexpr int kTable = 8192;
    static constexpr int kMark = 0x8000;

    explicit ShrinkEncoder(ShrinkOptions options = {}) : options_(options) {}

    Bytes Encode(const Bytes& data, ShrinkStats* stats = nullptr) {
        ShrinkStats local;
        ShrinkStats& st = stats ? *stats : local;
        Reset();
        BitWriter out;
        size_t pos = 0;
        int previous = -1;
        bool previousBroken = false;
        int codesSinceClear = 0;
        bool literalNext = false;
        bool clearPending = false;
        while (pos < data.size()) {
            // The slot the decoder fills when it reads the code written next.
            const int pending = previous >= 0 && nextFree_ < kTable ? nextFree_ : -1;
            if (pending >= 0) {
                prefix_[pending] = previous;  // the decoder still sees it undefined (KwKwK)
                suffix_[pending] = data[pos];
                if (!previousBroken) Learn(pending);
            }
            int code = data[pos];
            size_t end = pos + 1;
            if (!literalNext) {
                for (int longer; end < data.size() && (longer = Child(code, data[end])) >= 0; ++end) code = longer;
            }
            literalNext = false;
            if (pending >= 0 && code == pending) ++st.kwkwk;
            if (pending >= 0 && freedOnce_[size_t(pending)]) ++st.reusedFreedCode;
            if (!options_.eagerSizeIncrease) {
                while (code >= 1 << codeSize_) GrowCodeSize(out, st);
            }
            out.Put(uint32_t(code), codeSize_);
            st.stringLengths.push_back(uint32_t(end - pos));
            if (pending >= 0) nextFree_ = LowestFree(pending + 1);
            if (nextFree_ >= kTable) st.tableFilled = true;
            previous = code;
            previousBroken = false;
            pos = end;
            ++codesSinceClear;

            if (options_.eagerSizeIncrease) {
                while (nextFree_ < kTable && nextFree_ >= 1 << codeSize_) GrowCodeSize(out, st);
            }
            if (options_.junkSubCodeEvery && st.stringLengths.size() % size_t(options_.junkSubCodeEvery) == 0) {
                out.Put(256, codeSize_);
                out.Put(3 + st.junkSubCodes % 100, codeSize_);
                ++st.junkSubCodes;
            }
            if ((options_.clearAtNextFree && nextFree_ >= options_.clearAtNextFree) ||
                (options_.clearEveryCodes && codesSinceClear >= options_.clearEveryCodes))
                clearPending = true;
            if (clearPending && pos < data.size()) {
                if (options_.keepPrevious && !Survives(previous)) {
                    literalNext = true;  // clear after a literal, which always survives
                    continue;
                }
                if (HasCodeAtOrAbove(nextFree_)) ++st.clearsWithHoles;
                out.Put(256, codeSize_);
                out.Put(2, codeSize_);
                st.unmarkedFreeCodes += PartialClear();
                st.brokenCodes += ForgetBrokenCodes();
                if (previous >= 256 && (prefix_[size_t(previous)] < 0 || !usable_[size_t(previous)])) {
                    previousBroken = true;
                    ++st.previousFreed;
                }
                ++st.partialClears;
                codesSinceClear = 0;
                clearPending = false;
            }
        }
        st.maxCodeSize = codeSize_;
        return out.bytes();
    }

private:
    static size_t Key(int code, uint8_t c) { return size_t(code) * 256 + c; }
    int Child(int code, uint8_t c) const {
        const auto found = child_.find(Key(code, c));
        return found == child_.end() ? -1 : found->second;
    }

    void Reset() {
        prefix_.assign(kTable, -1);
        suffix_.assign(kTable, 0);
        freedOnce_.assign(kTable, 0);
        usable_.assign(kTable, 0);
        child_.clear();
        for (int c = 0; c < 256; ++c) {
            prefix_[size_t(c)] = 0;
            usable_[size_t(c)] = 1;
        }
        nextFree_ = 257;
        codeSize_ = 9;
    }
    void Learn(int code) {
        usable_[size_t(code)] = 1;
        const size_t key = Key(prefix_[size_t(code)], suffix_[size_t(code)]);
        child_.emplace(key, code);  // a string already known keeps its first code
    }
    void Forget(int code, int prefix) {
        usable_[size_t(code)] = 0;
        const auto known = child_.find(Key(prefix, suffix_[size_t(code)]));
        if (prefix >= 0 && prefix < kTable && known != child_.end() && known->second == code) child_.erase(known);
    }
    void GrowCodeSize(BitWriter& out, ShrinkStats& st) {
        out.Put(256, codeSize_);
        out.Put(1, codeSize_);
        ++codeSize_;
        st.maxCodeSize = std::max(st.maxCodeSize, codeSize_);
    }
    int LowestFree(int from) const {
        while (from < kTable && prefix_[size_t(from)] != -1) ++from;
        return from;
    }
    bool HasCodeAtOrAbove(int code) const {
        for (int c = code; c < kTable; ++c)
            if (prefix_[size_t(c)] != -1) return true;
        return false;
    }
    bool Survives(int code) const {
        if (code < 256 || code >= nextFree_) return true;
        for (int c = 257; c < nextFree_; ++c)
            if (prefix_[size_t(c)] == code) return true;
        return false;
    }
    // Returns how many free codes lost a mark they never had, and so stopped being free.
    int PartialClear() {
        int unmarkedFree = 0;
        if (nextFree_ > 257) {
            for (int c = 257; c < nextFree_; ++c) prefix_[size_t(c)] |= kMark;
            for (int c = 257; c < nextFree_; ++c) {
                const int p = prefix_[size_t(c)] & ~kMark;
                if (p >= nextFree_ && prefix_[size_t(p)] == -1) ++unmarkedFree;
                if (p >= 257) prefix_[size_t(p)] &= ~kMark;
            }
            for (int c = 257; c < nextFree_; ++c) {
                if (!(prefix_[size_t(c)] & kMark)) continue;
                Forget(c, prefix_[size_t(c)] & ~kMark);
                prefix_[size_t(c)] = -1;
                freedOnce_[size_t(c)] = 1;
            }
        }
        nextFree_ = LowestFree(257);
        return unmarkedFree;
    }
    // Codes whose chain of prefixes now passes a free or unusable code; how many.
    int ForgetBrokenCodes() {
        std::vector<int8_t> state(kTable, 0);  // 0 unknown, 1 sound, -1 broken
        int forgotten = 0;
        for (int c = 0; c < kTable; ++c) {
            std::vector<int> chain;
            int at = c;
            while (at >= 256 && state[size_t(at)] == 0) {
                chain.push_back(at);
                if (!usable_[size_t(at)] || prefix_[size_t(at)] < 0 || chain.size() > size_t(kTable)) break;
                at = prefix_[size_t(at)];
            }
            bool sound = at < 256 ? true : state[size_t(at)] == 1;
            if (!chain.empty() && chain.back() == at) sound = false;
            for (int k = int(chain.size()) - 1; k >= 0; --k) {
                const int code = chain[size_t(k)];
                if (!sound || !usable_[size_t(code)] || prefix_[size_t(code)] < 0) sound = false;
                if (!sound && usable_[size_t(code)]) {
                    Forget(code, prefix_[size_t(code)]);
                    ++forgotten;
                }
                state[size_t(code)] = sound ? 1 : -1;
            }
        }
        return forgotten;
    }

    ShrinkOptions options_;
    std::vector<int> prefix_;
    std::vector<uint8_t> suffix_, freedOnce_, usable_;
    std::unordered_map<size_t, int> child_;  // (code, next byte) -> code of the longer string
    int nextFree_ = 257, codeSize_ = 9;
};

// ---- Reduce -----------------------------------------------------------------------
// DLE copy encoding, then follower sets: for each byte value, the bytes that most often
// follow it in the DLE stream, up to `setSize(value)` of them.

struct ReduceOptions {
    int factor = 1;
    int maxSetSize = 32;       // 0 to 63; capped per value by `varySetSizes`
    bool varySetSizes = false; // value v gets at most v % 64 followers: every index width
    bool zeroHistory = false;  // let copies reach before the first byte
    bool matches = true;
};

struct ReduceStats {
    int copies = 0, longLengths = 0, dleLiterals = 0, beforeStart = 0, crossesFlush = 0;
    uint32_t longestCopy = 0;
};

inline Bytes Reduce(const Bytes& data, const ReduceOptions& o, ReduceStats* stats = nullptr) {
    ReduceStats local;
    ReduceStats& st = stats ? *stats : local;
    const int lengthMask = (1 << (8 - o.factor)) - 1;
    const uint32_t maxDistance = uint32_t(256) << o.factor;
    const uint32_t maxLength = uint32_t(lengthMask) + 255 + 3;

    // First stage: the DLE stream.
    Bytes dle;
    MatchFinder finder(data, maxDistance, maxLength, o.zeroHistory);
    for (size_t pos = 0; pos < data.size();) {
        Match m = o.matches ? finder.Find(pos) : Match{};
        // A copy of length 3 whose distance fits the low byte would start with DLE 0.
        if (m.length == 3 && m.distance <= 256) m.length = 0;
        if (m.length >= 3) {
            const uint32_t lengthCode = m.length - 3;
            const uint32_t high = (m.distance - 1) >> 8;
            const uint32_t low = std::min<uint32_t>(lengthCode, uint32_t(lengthMask));
            dle.push_back(144);
            dle.push_back(uint8_t(low | high << (8 - o.factor)));
            if (low == uint32_t(lengthMask)) {
                dle.push_back(uint8_t(lengthCode - uint32_t(lengthMask)));
                ++st.longLengths;
            }
            dle.push_back(uint8_t((m.distance - 1) & 0xFF));
            ++st.copies;
            st.longestCopy = std::max(st.longestCopy, m.length);
            if (m.distance > pos) ++st.beforeStart;
            if ((pos % 16384) + m.length > 16384) ++st.crossesFlush;
            for (uint32_t i = 0; i < m.length; ++i) finder.Insert(pos + i);
            pos += m.length;
        } else {
            if (data[pos] == 144) {
                dle.push_back(144);
                dle.push_back(0);
                ++st.dleLiterals;
            } else {
                dle.push_back(data[pos]);
            }
            finder.Insert(pos);
            ++pos;
        }
    }

    // Second stage: follower sets from the DLE stream's byte pairs.
    std::vector<std::vector<uint32_t>> pairs(256, std::vector<uint32_t>(256, 0));
    int last = 0;
    for (uint8_t x : dle) {
        ++pairs[size_t(last)][x];
        last = x;
    }
    std::vector<Bytes> sets(256);
    for (int v = 0; v < 256; ++v) {
        const int cap = o.varySetSizes ? std::min(o.maxSetSize, v % 64) : o.maxSetSize;
        std::vector<int> order;
        for (int x = 0; x < 256; ++x)
            if (pairs[size_t(v)][size_t(x)]) order.push_back(x);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return pairs[size_t(v)][size_t(a)] > pairs[size_t(v)][size_t(b)]; });
        // Pad with unused bytes so that sets of the capped size occur even on small data.
        for (int x = 0; int(order.size()) < cap && x < 256; ++x)
            if (!pairs[size_t(v)][size_t(x)]) order.push_back(x);
        if (int(order.size()) > cap) order.resize(size_t(cap));
        sets[size_t(v)].assign(order.begin(), order.end());
    }
    BitWriter out;
    for (int v = 255; v >= 0; --v) {
        out.Put(uint32_t(sets[size_t(v)].size()), 6);
        for (uint8_t x : sets[size_t(v)]) out.Put(x, 8);
    }
    last = 0;
    for (uint8_t x : dle) {
        const Bytes& set = sets[size_t(last)];
        if (set.empty()) {
            out.Put(x, 8);
        } else {
            const auto at = std::find(set.begin(), set.end(), x);
            if (at == set.end()) {
                out.Put(1, 1);
                out.Put(x, 8);
            } else {
                int bits = 1;
                while ((1u << bits) < set.size()) ++bits;
                out.Put(0, 1);
                out.Put(uint32_t(at - set.begin()), bits);
            }
        }
        last = x;
    }
    return out.bytes();
}

// ---- Implode ----------------------------------------------------------------------
// Shannon-Fano trees given as bit lengths (Huffman lengths limited to 16 bits, every
// symbol present), codes handed out as the format does: entries sorted by (bit length,
// value), codes counted up from the last entry.

struct ImplodeOptions {
    bool bigDictionary = false;  // flag bit 1
    bool literalTree = false;    // flag bit 2
    bool uniformTrees = false;   // every code of one length (8 bits, 6 bits)
    bool deepTrees = false;      // trees from made-up skewed counts: codes up to 16 bits
    bool zeroHistory = false;
    bool matches = true;
    int chainLimit = 64;
};

struct ImplodeStats {
    int literals = 0, copies = 0, longLengthCodes = 0, beforeStart = 0, crossesFlush = 0;
    uint32_t longestCopy = 0, farthest = 0;
    int longestCode = 0;
};

// Lengths for `freq` (all above 0) limited to `limit` bits.
inline std::vector<int> LimitedCodeLengths(const std::vector<uint64_t>& freq, int limit) {
    const size_t n = freq.size();
    // Plain Huffman over (weight, node) with parent links.
    std::vector<uint64_t> weight(freq);
    std::vector<int> parent(2 * n, -1);
    std::vector<int> live;
    for (size_t i = 0; i < n; ++i) live.push_back(int(i));
    weight.resize(2 * n);
    int next = int(n);
    while (live.size() > 1) {
        std::sort(live.begin(), live.end(), [&](int a, int b) { return weight[size_t(a)] != weight[size_t(b)] ? weight[size_t(a)] > weight[size_t(b)] : a > b; });
        const int a = live.back();
        live.pop_back();
        const int b = live.back();
        live.pop_back();
        weight[size_t(next)] = weight[size_t(a)] + weight[size_t(b)];
        parent[size_t(a)] = parent[size_t(b)] = next;
        live.push_back(next++);
    }
    std::vector<int> depth(n);
    for (size_t i = 0; i < n; ++i)
        for (int p = parent[i]; p >= 0; p = parent[size_t(p)]) ++depth[i];
    // Too long: move leaves up, keeping the code complete (as JPEG's Annex K does).
    std::vector<int> count(64, 0);
    for (int d : depth) ++count[size_t(d)];
    for (int i = 63; i > limit; --i) {
        while (count[size_t(i)] > 0) {
            int j = i - 2;
            while (count[size_t(j)] == 0) --j;
            count[size_t(i)] -= 2;
            count[size_t(i - 1)] += 1;
            count[size_t(j + 1)] += 2;
            count[size_t(j)] -= 1;
        }
    }
    // Hand the lengths out again, shortest to the most frequent.
    std::vector<int> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = int(i);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return freq[size_t(a)] > freq[size_t(b)]; });
    std::vector<int> lengths(n);
    size_t k = 0;
    for (int len = 1; len <= limit; ++len)
        for (int c = 0; c < count[size_t(len)]; ++c) lengths[size_t(order[k++])] = len;
    return lengths;
}

struct ShannonFanoCode {
    std::vector<int> length;
    std::vector<uint32_t> code;  // most significant bit first, `length` bits
};

inline ShannonFanoCode AssignCodes(const std::vector<int>& lengths) {
    const size_t n = lengths.size();
    std::vector<int> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = int(i);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return lengths[size_t(a)] < lengths[size_t(b)]; });
    ShannonFanoCode sf{lengths, std::vector<uint32_t>(n)};
    uint32_t code = 0, step = 0;
    int lastLength = 0;
    for (size_t k = n; k-- > 0;) {
        const int v = order[k];
        code = (code + step) & 0xFFFF;
        sf.code[size_t(v)] = code >> (16 - lengths[size_t(v)]);
        if (lengths[size_t(v)] != lastLength) {
            lastLength = lengths[size_t(v)];
            step = 1u << (16 - lastLength);
        }
    }
    return sf;
}

inline void PutTreeDescription(BitWriter& out, const std::vector<int>& lengths) {
    Bytes description;
    for (size_t i = 0; i < lengths.size();) {
        size_t run = 1;
        while (i + run < lengths.size() && lengths[i + run] == lengths[i] && run < 16) ++run;
        description.push_back(uint8_t((lengths[i] - 1) | int(run - 1) << 4));
        i += run;
    }
    out.Put(uint32_t(description.size() - 1), 8);
    for (uint8_t b : description) out.Put(b, 8);
}

inline Bytes Implode(const Bytes& data, const ImplodeOptions& o, ImplodeStats* stats = nullptr) {
    ImplodeStats local;
    ImplodeStats& st = stats ? *stats : local;
    const int lowBits = o.bigDictionary ? 7 : 6;
    const uint32_t minMatch = o.literalTree ? 3 : 2;
    const uint32_t maxDistance = o.bigDictionary ? 8192 : 4096;
    const uint32_t maxLength = 63 + 255 + minMatch;

    struct Token {
        uint32_t distance, length;  // distance 0: literal `length`
    };
    std::vector<Token> tokens;
    MatchFinder finder(data, maxDistance, maxLength, o.zeroHistory, o.chainLimit);
    std::vector<uint64_t> literalFreq(256, 1), lengthFreq(64, 1), distanceFreq(64, 1);
    for (size_t pos = 0; pos < data.size();) {
        const Match m = o.matches ? finder.Find(pos) : Match{};
        if (m.length >= minMatch) {
            tokens.push_back({m.distance, m.length});
            ++lengthFreq[std::min<uint32_t>(m.length - minMatch, 63)];
            ++distanceFreq[(m.distance - 1) >> lowBits];
            ++st.copies;
            if (m.length - minMatch >= 63) ++st.longLengthCodes;
            if (m.distance > pos) ++st.beforeStart;
            if ((pos % 16384) + m.length > 16384) ++st.crossesFlush;
            st.longestCopy = std::max(st.longestCopy, m.length);
            st.farthest = std::max(st.farthest, m.distance);
            for (uint32_t i = 0; i < m.length; ++i) finder.Insert(pos + i);
            pos += m.length;
        } else {
            tokens.push_back({0, data[pos]});
            ++literalFreq[data[pos]];
            ++st.literals;
            finder.Insert(pos);
            ++pos;
        }
    }

    auto lengthsFor = [&](std::vector<uint64_t> freq, int uniformBits) {
        if (o.uniformTrees) return std::vector<int>(freq.size(), uniformBits);
        if (o.deepTrees)
            for (size_t i = 0; i < freq.size(); ++i) freq[i] = uint64_t(1) << ((i * 7) % 40);
        return LimitedCodeLengths(freq, 16);
    };
    const ShannonFanoCode literal = AssignCodes(lengthsFor(literalFreq, 8));
    const ShannonFanoCode length = AssignCodes(lengthsFor(lengthFreq, 6));
    const ShannonFanoCode distance = AssignCodes(lengthsFor(distanceFreq, 6));
    for (const ShannonFanoCode* sf : {&literal, &length, &distance})
        for (int l : sf->length) st.longestCode = std::max(st.longestCode, l);

    BitWriter out;
    if (o.literalTree) PutTreeDescription(out, literal.length);
    PutTreeDescription(out, length.length);
    PutTreeDescription(out, distance.length);
    for (const Token& t : tokens) {
        if (t.distance == 0) {
            out.Put(1, 1);
            if (o.literalTree) {
                out.PutMsbFirst(literal.code[t.length], literal.length[t.length]);
            } else {
                out.Put(t.length, 8);
            }
            continue;
        }
        out.Put(0, 1);
        const uint32_t d = t.distance - 1;
        out.Put(d & ((1u << lowBits) - 1), lowBits);
        const uint32_t high = d >> lowBits;
        out.PutMsbFirst(distance.code[high], distance.length[high]);
        const uint32_t code = std::min<uint32_t>(t.length - minMatch, 63);
        out.PutMsbFirst(length.code[code], length.length[code]);
        if (code == 63) out.Put(t.length - minMatch - 63, 8);
    }
    return out.bytes();
}

// ---- ZIP writer with traditional encryption --------------------------------------

namespace cipher {
inline uint32_t CrcByte(uint32_t reg, uint8_t b) {
    reg ^= b;
    for (int k = 0; k < 8; ++k) reg = reg & 1 ? (reg >> 1) ^ 0xEDB88320u : reg >> 1;
    return reg;
}
struct Keys {
    uint32_t k0 = 0x12345678u, k1 = 0x23456789u, k2 = 0x34567890u;
    void Update(uint8_t plain) {
        k0 = CrcByte(k0, plain);
        k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
        k2 = CrcByte(k2, uint8_t(k1 >> 24));
    }
    uint8_t Stream() const {
        const uint32_t t = (k2 & 0xFFFF) | 2;
        return uint8_t((t * (t ^ 1)) >> 8);
    }
    uint8_t Encrypt(uint8_t plain) {
        const uint8_t c = plain ^ Stream();
        Update(plain);
        return c;
    }
};
}  // namespace cipher

inline uint32_t Crc32Of(const Bytes& data) {
    uint32_t reg = 0xFFFFFFFFu;
    for (uint8_t b : data) reg = cipher::CrcByte(reg, b);
    return ~reg;
}

struct ZipItem {
    std::string name;
    uint16_t method = 0;
    uint16_t flags = 0;  // implode bits; bit 0 is set for a password
    Bytes compressed;
    Bytes original;      // for the CRC-32 and the size
    std::string password;
};

inline void Put16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

inline Bytes BuildZip(const std::vector<ZipItem>& items) {
    Bytes zip, central;
    constexpr uint32_t kTime = 0x6000, kDate = 0x5A21;  // 2025-01-01 12:00
    for (const ZipItem& item : items) {
        const uint32_t crc = Crc32Of(item.original);
        Bytes body = item.compressed;
        uint16_t flags = item.flags;
        if (!item.password.empty()) {
            flags |= 1;
            cipher::Keys keys;
            for (char c : item.password) keys.Update(uint8_t(c));
            Bytes header(12);
            for (size_t i = 0; i < 11; ++i) header[i] = uint8_t(i * 37 + 11);
            header[11] = uint8_t(crc >> 24);
            Bytes encrypted;
            for (uint8_t b : header) encrypted.push_back(keys.Encrypt(b));
            for (uint8_t b : body) encrypted.push_back(keys.Encrypt(b));
            body = encrypted;
        }
        const uint32_t offset = uint32_t(zip.size());
        const uint16_t version = item.method == 0 ? 10 : 20;
        Put32(zip, 0x04034b50);
        Put16(zip, version);
        Put16(zip, flags);
        Put16(zip, item.method);
        Put16(zip, kTime);
        Put16(zip, kDate);
        Put32(zip, crc);
        Put32(zip, uint32_t(body.size()));
        Put32(zip, uint32_t(item.original.size()));
        Put16(zip, uint32_t(item.name.size()));
        Put16(zip, 0);
        zip.insert(zip.end(), item.name.begin(), item.name.end());
        zip.insert(zip.end(), body.begin(), body.end());

        Put32(central, 0x02014b50);
        Put16(central, 20);
        Put16(central, version);
        Put16(central, flags);
        Put16(central, item.method);
        Put16(central, kTime);
        Put16(central, kDate);
        Put32(central, crc);
        Put32(central, uint32_t(body.size()));
        Put32(central, uint32_t(item.original.size()));
        Put16(central, uint32_t(item.name.size()));
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, 0x20);
        Put32(central, offset);
        central.insert(central.end(), item.name.begin(), item.name.end());
    }
    const uint32_t centralOffset = uint32_t(zip.size());
    zip.insert(zip.end(), central.begin(), central.end());
    Put32(zip, 0x06054b50);
    Put16(zip, 0);
    Put16(zip, 0);
    Put16(zip, uint32_t(items.size()));
    Put16(zip, uint32_t(items.size()));
    Put32(zip, uint32_t(central.size()));
    Put32(zip, centralOffset);
    Put16(zip, 0);
    return zip;
}

// ---- test data ----------------------------------------------------------------------

inline Bytes NoiseBytes(size_t size, uint32_t seed) {
    Bytes bytes(size);
    uint32_t x = seed * 2654435761u + 0x9E3779B9u;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x >> 7);
    }
    return bytes;
}

// Words from a small vocabulary with some noise: long and short matches, skewed literals.
inline Bytes TextLike(size_t size, uint32_t seed) {
    static const char* kWords[] = {"the ", "archive ", "entry ", "stream ", "of ", "and ", "shrink ",
                                   "reduce ", "implode ", "window ", "code ", "table ", "\r\n", "data ",
                                   "follower ", "set ", "distance ", "length ", "literal ", "tree "};
    Bytes bytes;
    uint32_t x = seed | 1;
    while (bytes.size() < size) {
        x = x * 1103515245u + 12345u;
        const char* w = kWords[(x >> 16) % 20];
        bytes.insert(bytes.end(), w, w + strlen(w));
        if ((x >> 8) % 29 == 0) bytes.push_back(uint8_t(x >> 3));
    }
    bytes.resize(size);
    return bytes;
}

// Runs of one byte (long copies, KwKwK), blocks of noise, and DLE bytes.
inline Bytes RunsAndNoise(size_t size, uint32_t seed) {
    Bytes bytes;
    uint32_t x = seed | 1;
    while (bytes.size() < size) {
        x = x * 1664525u + 1013904223u;
        const uint32_t kind = (x >> 28) % 4;
        const size_t length = 1 + (x >> 8) % (kind == 0 ? 900 : 60);
        const Bytes noise = NoiseBytes(length, x);
        for (size_t i = 0; i < length; ++i) {
            switch (kind) {
                case 0: bytes.push_back(uint8_t(x >> 20)); break;  // a run
                case 1: bytes.push_back(noise[i]); break;
                case 2: bytes.push_back(i % 3 ? 144 : noise[i]); break;  // DLE-heavy
                default: bytes.push_back(uint8_t("abcabcabd"[i % 9])); break;
            }
        }
    }
    bytes.resize(size);
    return bytes;
}

}  // namespace legacy
