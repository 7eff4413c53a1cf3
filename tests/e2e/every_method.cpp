// Writes a ZIP holding one entry of each legacy method and variant (shrink, reduce with
// factors 1 to 4, implode in its four variants), plain and encrypted, and a shrunk entry of
// several megabytes (a sink call for every code), for the end-to-end test that extracts
// every method under Wine. The streams come from the test encoders, which the native
// tests prove against Info-ZIP unzip and the peer archives.
//
//   e2e_every_method OUT.zip PASSWORD REFERENCE-DIR   (each entry's bytes also go to REFERENCE-DIR)
#include <stdio.h>

#include <string>
#include <vector>

#include "../native/legacy_encoders.h"

static bool Write(const std::string& path, const legacy::Bytes& bytes) {
    FILE* out = fopen(path.c_str(), "wb");
    if (out && fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size() && fclose(out) == 0) return true;
    fprintf(stderr, "cannot write %s\n", path.c_str());
    return false;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: %s OUT.zip PASSWORD REFERENCE-DIR\n", argv[0]);
        return 2;
    }
    const legacy::Bytes text = legacy::TextLike(40000, 3);
    const legacy::Bytes runs = legacy::RunsAndNoise(30000, 4);
    const legacy::Bytes large = legacy::TextLike(6 << 20, 5);
    std::vector<legacy::ZipItem> items;
    auto add = [&](const std::string& name, uint16_t method, uint16_t flags, const legacy::Bytes& compressed,
                   const legacy::Bytes& original, const std::string& password) {
        items.push_back({name, method, flags, compressed, original, password});
    };
    for (const std::string password : {std::string(), std::string(argv[2])}) {
        const std::string suffix = password.empty() ? "" : "-encrypted";
        add("shrink" + suffix + ".txt", 1, 0, legacy::ShrinkEncoder().Encode(text), text, password);
        for (int factor = 1; factor <= 4; ++factor)
            add("reduce" + std::to_string(factor) + suffix + ".bin", uint16_t(factor + 1), 0,
                legacy::Reduce(runs, {.factor = factor, .maxSetSize = 32}), runs, password);
        for (int variant = 0; variant < 4; ++variant) {
            const bool big = variant & 1, literal = variant & 2;
            add(std::string("implode-") + (big ? "8k" : "4k") + (literal ? "-3trees" : "-2trees") + suffix + ".txt", 6,
                uint16_t(variant << 1), legacy::Implode(text, {.bigDictionary = big, .literalTree = literal}), text,
                password);
        }
    }
    add("shrink-large.txt", 1, 0, legacy::ShrinkEncoder().Encode(large), large, "");
    bool ok = Write(argv[1], legacy::BuildZip(items));
    for (const legacy::ZipItem& item : items) ok = ok && Write(std::string(argv[3]) + "/" + item.name, item.original);
    return ok ? 0 : 1;
}
