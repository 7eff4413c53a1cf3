// Writing a self-extracting file. See sfx_writer.h.
#include "sfx_writer.h"

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

bool WriteSelfExtractor(FILE* out, const std::vector<uint8_t>& stub, ConfigBlock block, FILE* input,
                        const ZipLayout& layout, bool storeCrc, std::string& error) {
    BuildCrcTable();
    error = "cannot write the output";
    if (!Write(out, stub.data(), stub.size()) || !Write(out, &block, sizeof block)) return false;
    uint32_t crc = 0;
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

bool CrcFrom(FILE* file, uint64_t offset, uint32_t& crc) {
    BuildCrcTable();
    crc = 0;
    if (!SeekTo(file, offset)) return false;
    std::vector<uint8_t> buffer(kCopyChunk);
    size_t got;
    while ((got = fread(buffer.data(), 1, buffer.size(), file)) > 0) crc = UpdateCrc(crc, buffer.data(), got);
    return ferror(file) == 0;
}
