// Writing a self-extracting file. See sfx_writer.h.
#include "sfx_writer.h"

#include <algorithm>

#include "archive/crc32.h"
#include "file_io.h"

namespace {

constexpr size_t kCopyChunk = 1 << 16;

bool Write(FILE* out, const void* data, size_t size) { return fwrite(data, 1, size, out) == size; }

// Copies `size` bytes from the input's position to the output, folding them into `crc`.
bool Copy(FILE* in, FILE* out, uint64_t size, uint32_t& crc) {
    std::vector<uint8_t> buffer(kCopyChunk);
    while (size > 0) {
        const size_t chunk = size < buffer.size() ? size_t(size) : buffer.size();
        if (fread(buffer.data(), 1, chunk, in) != chunk) return false;
        if (!Write(out, buffer.data(), chunk)) return false;
        crc = UpdateCrc(crc, buffer.data(), chunk);
        size -= chunk;
    }
    return true;
}

}  // namespace

bool WriteSelfExtractor(FILE* out, const std::vector<uint8_t>& stub, ConfigBlock block, uint64_t padding, FILE* input,
                        const ZipLayout& layout, bool storeCrc, std::string& error) {
    BuildCrcTable();
    error = "cannot write the output";
    if (!Write(out, stub.data(), stub.size()) || !Write(out, &block, sizeof block)) return false;
    const uint8_t zeros[kSignatureAlignment] = {};
    if (!Write(out, zeros, size_t(padding))) return false;
    uint32_t crc = UpdateCrc(0, zeros, size_t(padding));
    if (fseek(input, 0, SEEK_SET) != 0 || !Copy(input, out, layout.tailStart, crc)) {
        error = "cannot read the archive";
        return false;
    }
    if (!Write(out, layout.tail.data(), layout.tail.size())) return false;
    crc = UpdateCrc(crc, layout.tail.data(), layout.tail.size());
    if (storeCrc) {
        block.expectedCrc = crc;
        if (!SeekTo(out, stub.size()) || !Write(out, &block, sizeof block)) return false;
    }
    if (fflush(out) != 0) return false;
    error.clear();
    return true;
}

bool WritePackedSelfExtractor(FILE* out, const std::vector<uint8_t>& stub, ConfigBlock block,
                              const std::vector<PackItem>& items, const PackSettings& settings, bool storeCrc,
                              PackSummary& summary, std::string& error) {
    const uint64_t archiveStart = stub.size() + kBlockSize;
    error = "cannot write the output";
    if (!Write(out, stub.data(), stub.size()) || !Write(out, &block, sizeof block)) return false;
    if (!WriteZip(out, archiveStart, items, settings, summary, error)) return false;
    if (!storeCrc) return true;
    error = "cannot read back the output";
    if (fflush(out) != 0 || !CrcOf(out, archiveStart, UINT64_MAX, block.expectedCrc)) return false;
    error = "cannot write the output";
    return SeekTo(out, stub.size()) && Write(out, &block, sizeof block) && fflush(out) == 0;
}

bool CrcOf(FILE* file, uint64_t from, uint64_t to, uint32_t& crc) {
    BuildCrcTable();
    crc = 0;
    if (!SeekTo(file, from)) return false;
    std::vector<uint8_t> buffer(kCopyChunk);
    for (uint64_t left = to > from ? to - from : 0; left > 0;) {
        const size_t got = fread(buffer.data(), 1, size_t(std::min<uint64_t>(left, buffer.size())), file);
        if (got == 0) break;
        crc = UpdateCrc(crc, buffer.data(), got);
        left -= got;
    }
    return ferror(file) == 0;
}
