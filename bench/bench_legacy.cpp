// Shrink, reduce and implode data for measuring and fuzzing, made by the test encoders of
// tests/native/legacy_encoders.h (bench_extract does the measuring).
//
//   bench_legacy archives DIR PEERS  one larger archive per method and variant in DIR,
//                                    from text, the peer files (PEERS/Zip.deflate.zip)
//                                    and noise; prints their paths
//   bench_legacy corpus DIR          seed inputs for fuzz_unshrink, fuzz_unreduce and
//                                    fuzz_explode under DIR/<target>/
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "../tests/native/legacy_encoders.h"
#include "../tests/native/legacy_fuzz_support.h"

using legacy::Bytes;

namespace {

Bytes Run(const std::string& command) {
    Bytes out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    uint8_t buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.insert(out.end(), buffer, buffer + got);
    pclose(pipe);
    return out;
}

bool Write(const std::string& path, const Bytes& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

Bytes Repeat(const Bytes& part, size_t size) {
    Bytes out;
    while (out.size() < size && !part.empty()) out.insert(out.end(), part.begin(), part.end());
    out.resize(std::min(out.size(), size));
    return out;
}

// ---- archives ------------------------------------------------------------------------

int MakeArchives(const std::string& dir, const std::string& peers) {
    const std::string deflated = "'" + peers + "/Zip.deflate.zip'";
    const Bytes exe = Run("unzip -p " + deflated + " exe/test.exe");
    const Bytes jpg = Run("unzip -p " + deflated + " jpg/test.jpg");
    const Bytes txt = Run("unzip -p " + deflated + " '*.txt'");
    if (exe.empty() || jpg.empty() || txt.empty()) {
        fprintf(stderr, "cannot read the peer files from %s\n", deflated.c_str());
        return 1;
    }
    Bytes mixed = txt;
    mixed.insert(mixed.end(), exe.begin(), exe.end());
    mixed.insert(mixed.end(), jpg.begin(), jpg.end());
    struct Source {
        const char* name;
        Bytes data;
    };
    const std::vector<Source> sources = {
        {"text.txt", legacy::TextLike(3 << 20, 1)},
        {"program.exe", Repeat(exe, 2 << 20)},
        {"mixed.bin", Repeat(mixed, 2 << 20)},
    };
    auto archive = [&](const std::string& name, uint16_t method, uint16_t flags, auto encode) {
        std::vector<legacy::ZipItem> items;
        for (const Source& s : sources) items.push_back({s.name, method, flags, encode(s.data), s.data, ""});
        const std::string path = dir + "/" + name;
        if (!Write(path, legacy::BuildZip(items))) return false;
        printf("%s\n", path.c_str());
        return true;
    };
    bool ok = archive("shrink.zip", 1, 0, [](const Bytes& d) {
        return legacy::ShrinkEncoder({.clearAtNextFree = 8192}).Encode(d);
    });
    for (int factor = 1; factor <= 4; ++factor) {
        ok = ok && archive("reduce" + std::to_string(factor) + ".zip", uint16_t(factor + 1), 0, [factor](const Bytes& d) {
            return legacy::Reduce(d, {.factor = factor, .maxSetSize = 32});
        });
    }
    for (int variant = 0; variant < 4; ++variant) {
        const bool big = variant & 1, literal = variant & 2;
        const std::string name = std::string("implode-") + (big ? "8k" : "4k") + (literal ? "-3trees" : "-2trees") + ".zip";
        ok = ok && archive(name, 6, uint16_t(variant << 1), [big, literal](const Bytes& d) {
            return legacy::Implode(d, {.bigDictionary = big, .literalTree = literal, .chainLimit = 16});
        });
    }
    return ok ? 0 : 1;
}

// ---- fuzz seeds --------------------------------------------------------------------

int MakeCorpus(const std::string& dir) {
    auto seed = [&](const char* target, const std::string& name, const Bytes& input) {
        const std::string folder = dir + "/" + target;
        mkdir(folder.c_str(), 0755);
        return Write(folder + "/" + name, input);
    };
    bool ok = true;
    const Bytes text = legacy::TextLike(3000, 7);
    const Bytes runs = legacy::RunsAndNoise(3000, 8);
    const Bytes zeros(2000, 0);
    struct ShrinkSeed {
        const char* name;
        const Bytes& data;
        legacy::ShrinkOptions options;
    };
    const ShrinkSeed shrinkSeeds[] = {
        {"text", text, {}},
        {"text-clear-300", text, {.clearAtNextFree = 300}},
        {"runs-clear-every-100", runs, {.clearEveryCodes = 100}},
        {"zeros-kwkwk", zeros, {}},
        {"text-lazy-junk", text, {.eagerSizeIncrease = false, .junkSubCodeEvery = 20}},
    };
    for (const ShrinkSeed& s : shrinkSeeds) {
        const Bytes stream = legacy::ShrinkEncoder(s.options).Encode(s.data);
        ok = ok && seed("fuzz_unshrink", s.name, fuzzing::MakeInput(uint32_t(s.data.size()), 0, 0, stream));
    }
    ok = ok && seed("fuzz_unshrink", "text-cancel", fuzzing::MakeInput(uint32_t(text.size()), 0, 5,
                                                                        legacy::ShrinkEncoder().Encode(text)));
    ok = ok && seed("fuzz_unreduce", "runs-every-set-size",
                    fuzzing::MakeInput(uint32_t(runs.size()), 0, 0,
                                       legacy::Reduce(runs, {.factor = 1, .maxSetSize = 63, .varySetSizes = true})));
    for (int factor = 1; factor <= 4; ++factor) {
        const std::string f = std::to_string(factor);
        ok = ok && seed("fuzz_unreduce", "text-sets4-factor" + f,
                        fuzzing::MakeInput(uint32_t(text.size()), factor - 1, 0,
                                           legacy::Reduce(text, {.factor = factor, .maxSetSize = 4})));
        ok = ok && seed("fuzz_unreduce", "runs-sets2-factor" + f,
                        fuzzing::MakeInput(uint32_t(runs.size()), factor - 1, 0,
                                           legacy::Reduce(runs, {.factor = factor, .maxSetSize = 2})));
        ok = ok && seed("fuzz_unreduce", "zeros-empty-sets-factor" + f,
                        fuzzing::MakeInput(uint32_t(zeros.size()), factor - 1, 0,
                                           legacy::Reduce(zeros, {.factor = factor, .maxSetSize = 0, .zeroHistory = true})));
    }
    for (int variant = 0; variant < 4; ++variant) {
        const bool big = variant & 1, literal = variant & 2;
        const std::string v = std::to_string(variant);
        ok = ok && seed("fuzz_explode", "text-variant" + v,
                        fuzzing::MakeInput(uint32_t(text.size()), variant, 0,
                                           legacy::Implode(text, {.bigDictionary = big, .literalTree = literal})));
        ok = ok && seed("fuzz_explode", "runs-deep-variant" + v,
                        fuzzing::MakeInput(uint32_t(runs.size()), variant, 0,
                                           legacy::Implode(runs, {.bigDictionary = big, .literalTree = literal, .deepTrees = true})));
        ok = ok && seed("fuzz_explode", "zeros-uniform-variant" + v,
                        fuzzing::MakeInput(uint32_t(zeros.size()), variant, 0,
                                           legacy::Implode(zeros, {.bigDictionary = big, .literalTree = literal,
                                                                   .uniformTrees = true, .zeroHistory = true})));
    }
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && strcmp(argv[1], "archives") == 0) return MakeArchives(argv[2], argv[3]);
    if (argc == 3 && strcmp(argv[1], "corpus") == 0) return MakeCorpus(argv[2]);
    fprintf(stderr, "usage: %s archives DIR PEERS | corpus DIR\n", argv[0]);
    return 2;
}
