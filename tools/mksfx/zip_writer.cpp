// Writing the archive. See zip_writer.h.
//
// Each entry's local header goes out first with its sizes and CRC-32 still unknown; the
// data follows, and the header is written again in place once they are known (same
// length: whether it needs ZIP64 sizes follows from the file's size, since an entry is
// never larger than stored). Deflate output that reaches the stored size is abandoned
// before it passes the data's stored end, and the entry is stored over it.
#include "zip_writer.h"

#include <time.h>
#include <zlib.h>

#include <algorithm>

#include "file_io.h"
#include "sfx_writer.h"
#include "zip_layout.h"

namespace {

constexpr size_t kChunk = 1 << 18;
constexpr uint16_t kMethodStored = 0, kMethodDeflated = 8;
constexpr uint16_t kVersionStored = 10, kVersionDeflated = 20, kVersionZip64 = 45;
constexpr uint16_t kFlagUtf8 = 1 << 11;
constexpr uint32_t kDosReadOnly = 0x01, kDosFolder = 0x10;
constexpr uint32_t kHostUnix = 3;
constexpr uint32_t kUnixFolder = 040755, kUnixFile = 0100644, kUnixReadOnlyFile = 0100444;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint32_t kMaxPlainEntries = 0xFFFF;
constexpr uint64_t kProgressThreshold = 32 << 20;  // smaller inputs pack too fast to need it

// ---- records -------------------------------------------------------------------------

class Record {
  public:
    void U16(uint32_t v) { Bytes(v, 2); }
    void U32(uint64_t v) { Bytes(v, 4); }
    void U64(uint64_t v) { Bytes(v, 8); }
    void Text(const std::string& s) { bytes_.insert(bytes_.end(), s.begin(), s.end()); }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

  private:
    void Bytes(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) bytes_.push_back(uint8_t(v >> (8 * i)));
    }
    std::vector<uint8_t> bytes_;
};

// A 32-bit field: the value, or the marker that sends readers to the ZIP64 extra field.
uint64_t Field32(uint64_t v) { return v >= kZip64Marker32 ? kZip64Marker32 : v; }

bool IsAscii(const std::string& name) {
    for (const char c : name)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

struct Entry {
    const PackItem* item;
    uint16_t method = kMethodStored;
    uint32_t dosTime = 0;
    uint32_t crc = 0;
    uint64_t compressed = 0;
    uint64_t localOffset = 0;  // as stored: from the settings' offset base

    bool Zip64Sizes() const { return item->size >= kZip64Marker32; }
    bool Zip64() const { return Zip64Sizes() || localOffset >= kZip64Marker32; }
    uint16_t VersionNeeded() const {
        return Zip64() ? kVersionZip64 : method == kMethodDeflated ? kVersionDeflated : kVersionStored;
    }
    uint16_t Flags() const { return IsAscii(item->name) ? 0 : kFlagUtf8; }
};

std::vector<uint8_t> LocalHeader(const Entry& e) {
    Record r;
    r.Text("PK\3\4");
    r.U16(e.VersionNeeded());
    r.U16(e.Flags());
    r.U16(e.method);
    r.U32(e.dosTime);
    r.U32(e.crc);
    // A local ZIP64 field carries both sizes, and both 32-bit fields then hold the marker.
    r.U32(e.Zip64Sizes() ? kZip64Marker32 : e.compressed);
    r.U32(e.Zip64Sizes() ? kZip64Marker32 : e.item->size);
    r.U16(uint32_t(e.item->name.size()));
    r.U16(e.Zip64Sizes() ? 20 : 0);
    r.Text(e.item->name);
    if (e.Zip64Sizes()) {
        r.U16(kZip64ExtraId);
        r.U16(16);
        r.U64(e.item->size);
        r.U64(e.compressed);
    }
    return r.bytes();
}

// The stub reads the DOS bits of the low byte; the high half holds a normalised mode.
uint32_t ExternalAttributes(const PackItem& item) {
    if (item.folder) return kUnixFolder << 16 | kDosFolder;
    return item.readOnly ? kUnixReadOnlyFile << 16 | kDosReadOnly : kUnixFile << 16;
}

std::vector<uint8_t> CentralRecord(const Entry& e) {
    // The ZIP64 field lists, in this order, the values whose 32-bit fields hold the marker.
    Record extra;
    for (const uint64_t v : {e.item->size, e.compressed, e.localOffset})
        if (v >= kZip64Marker32) extra.U64(v);
    Record r;
    r.Text("PK\1\2");
    // Made on Unix: other systems' extractors then honour bit 11 (Info-ZIP takes names from
    // FAT hosts as OEM text whatever the flag says) and the mode in the high half.
    r.U16(kHostUnix << 8 | e.VersionNeeded());
    r.U16(e.VersionNeeded());
    r.U16(e.Flags());
    r.U16(e.method);
    r.U32(e.dosTime);
    r.U32(e.crc);
    r.U32(Field32(e.compressed));
    r.U32(Field32(e.item->size));
    r.U16(uint32_t(e.item->name.size()));
    r.U16(extra.bytes().empty() ? 0 : uint32_t(4 + extra.bytes().size()));
    r.U16(0);  // comment
    r.U16(0);  // disk
    r.U16(0);  // internal attributes
    r.U32(ExternalAttributes(*e.item));
    r.U32(Field32(e.localOffset));
    r.Text(e.item->name);
    if (!extra.bytes().empty()) {
        r.U16(kZip64ExtraId);
        r.U16(uint32_t(extra.bytes().size()));
        r.Text(std::string(extra.bytes().begin(), extra.bytes().end()));
    }
    return r.bytes();
}

// The end records. `centralOffset` is as stored; `comment` pads the file to its length.
std::vector<uint8_t> EndRecords(uint64_t entries, uint64_t centralSize, uint64_t centralOffset, bool zip64,
                                size_t comment) {
    Record r;
    if (zip64) {
        const uint64_t zip64End = centralOffset + centralSize;
        r.Text("PK\6\6");
        r.U64(44);  // the record's size after this field
        r.U16(kVersionZip64);
        r.U16(kVersionZip64);
        r.U32(0);
        r.U32(0);
        r.U64(entries);
        r.U64(entries);
        r.U64(centralSize);
        r.U64(centralOffset);
        r.Text("PK\6\7");
        r.U32(0);
        r.U64(zip64End);
        r.U32(1);
    }
    const uint32_t count = uint32_t(entries >= kMaxPlainEntries ? kMaxPlainEntries : entries);
    r.Text("PK\5\6");
    r.U16(0);
    r.U16(0);
    r.U16(count);
    r.U16(count);
    r.U32(Field32(centralSize));
    r.U32(Field32(centralOffset));
    r.U16(uint32_t(comment));
    r.Text(std::string(comment, ' '));
    return r.bytes();
}

// ---- progress ------------------------------------------------------------------------

// A percentage on stderr, rewritten in place, for a person watching a large input.
class Progress {
  public:
    Progress(uint64_t total, bool enabled) : total_(total), enabled_(enabled && total >= kProgressThreshold) {}
    ~Progress() {
        if (shown_ >= 0) fputs("\r                          \r", stderr);
    }
    void Show(uint64_t done) {
        if (!enabled_) return;
        const int percent = int(done * 100 / total_);
        if (percent == shown_) return;
        shown_ = percent;
        fprintf(stderr, "\rmksfx: packing %3d%%", percent);
        fflush(stderr);
    }

  private:
    uint64_t total_;
    bool enabled_;
    int shown_ = -1;
};

// ---- data ----------------------------------------------------------------------------

class Writer {
  public:
    Writer(FILE* out, uint64_t start, const PackSettings& settings, Progress& progress)
        : out_(out), position_(start), settings_(settings), progress_(progress) {}

    bool Write(const std::vector<uint8_t>& bytes) { return Write(bytes.data(), bytes.size()); }
    bool Write(const uint8_t* data, size_t size) {
        position_ += size;
        return fwrite(data, 1, size, out_) == size;
    }
    bool Seek(uint64_t position) {
        position_ = position;
        return SeekTo(out_, position);
    }
    uint64_t position() const { return position_; }

    // Writes one entry, header and data. False with `error` set.
    bool AddEntry(Entry& e, uint64_t doneBefore, std::string& error) {
        const uint64_t headerAt = position_;
        e.localOffset = headerAt - settings_.offsetBase;
        const int64_t modified = settings_.sourceDateEpoch && e.item->modified > *settings_.sourceDateEpoch
                                     ? *settings_.sourceDateEpoch
                                     : e.item->modified;
        e.dosTime = DosDateTime(modified, settings_.sourceDateEpoch.has_value());
        if (!Write(LocalHeader(e))) return WriteFailed(error);
        if (e.item->size > 0 && !AddData(e, doneBefore, error)) return false;
        const uint64_t end = position_;
        if (!Seek(headerAt) || !Write(LocalHeader(e)) || !Seek(end)) return WriteFailed(error);
        return true;
    }

  private:
    bool WriteFailed(std::string& error) {
        error = "cannot write the output";
        return false;
    }

    bool AddData(Entry& e, uint64_t doneBefore, std::string& error) {
        UniqueFile source(OpenForReading(e.item->source));
        if (!source) {
            error = "cannot read " + e.item->source.string();
            return false;
        }
        const uint64_t dataStart = position_;
        if (settings_.level > 0) {
            e.method = kMethodDeflated;
            const Outcome deflated = Deflate(source.get(), e, doneBefore, error);
            if (deflated == Outcome::Failed) return false;
            if (deflated == Outcome::Done) return true;
            if (!SeekTo(source.get(), 0) || !Seek(dataStart)) return WriteFailed(error);
        }
        e.method = kMethodStored;
        return Store(source.get(), e, doneBefore, error);
    }

    enum class Outcome { Done, NotSmaller, Failed };

    // Reads the source's next `size` bytes in chunks, handing each to `take`; Failed
    // (with `error`) when the file does not hold exactly `size` bytes any more.
    template <typename Take>
    Outcome ReadSource(FILE* source, const Entry& e, uint64_t doneBefore, std::string& error, Take take) {
        std::vector<uint8_t> chunk(kChunk);
        for (uint64_t done = 0; done < e.item->size;) {
            const size_t want = size_t(std::min<uint64_t>(kChunk, e.item->size - done));
            if (fread(chunk.data(), 1, want, source) != want) break;
            done += want;
            const Outcome o = take(chunk.data(), want, done == e.item->size);
            if (o != Outcome::Done) return o;
            progress_.Show(doneBefore + done);
            if (done == e.item->size && fgetc(source) == EOF) return Outcome::Done;
        }
        error = e.item->source.string() + " changed while it was packed";
        return Outcome::Failed;
    }

    bool Store(FILE* source, Entry& e, uint64_t doneBefore, std::string& error) {
        e.crc = 0;
        e.compressed = e.item->size;
        return ReadSource(source, e, doneBefore, error, [&](const uint8_t* data, size_t n, bool) {
                   e.crc = uint32_t(crc32(e.crc, data, uInt(n)));
                   if (Write(data, n)) return Outcome::Done;
                   WriteFailed(error);
                   return Outcome::Failed;
               }) == Outcome::Done;
    }

    Outcome Deflate(FILE* source, Entry& e, uint64_t doneBefore, std::string& error) {
        z_stream z{};
        // Raw Deflate, the largest window and the most memory zlib offers.
        if (deflateInit2(&z, settings_.level, Z_DEFLATED, -MAX_WBITS, MAX_MEM_LEVEL, Z_DEFAULT_STRATEGY) != Z_OK) {
            error = "zlib cannot start Deflate";
            return Outcome::Failed;
        }
        std::vector<uint8_t> out(kChunk);
        e.crc = 0;
        e.compressed = 0;
        const Outcome o = ReadSource(source, e, doneBefore, error, [&](const uint8_t* data, size_t n, bool last) {
            e.crc = uint32_t(crc32(e.crc, data, uInt(n)));
            z.next_in = const_cast<uint8_t*>(data);
            z.avail_in = uInt(n);
            do {
                z.next_out = out.data();
                z.avail_out = uInt(out.size());
                deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
                const size_t produced = out.size() - z.avail_out;
                // Stored is smaller or as small: nothing may go past its end.
                if (e.compressed + produced >= e.item->size) return Outcome::NotSmaller;
                if (!Write(out.data(), produced)) {
                    WriteFailed(error);
                    return Outcome::Failed;
                }
                e.compressed += produced;
            } while (z.avail_out == 0);
            return Outcome::Done;
        });
        deflateEnd(&z);
        return o;
    }

    FILE* out_;
    uint64_t position_;
    const PackSettings& settings_;
    Progress& progress_;
};

}  // namespace

uint32_t DosDateTime(int64_t seconds, bool utc) {
    constexpr uint32_t kEarliest = (0 << 9 | 1 << 5 | 1) << 16;                    // 1980-01-01 00:00:00
    constexpr uint32_t kLatest = uint32_t(127 << 9 | 12 << 5 | 31) << 16 | 23 << 11 | 59 << 5 | 29;  // 2107-12-31
    const time_t t = time_t(seconds + (seconds & 1));  // DOS counts in 2 s: up, never older than the file
    tm parts{};
#ifdef _WIN32
    const bool converted = (utc ? gmtime_s(&parts, &t) : localtime_s(&parts, &t)) == 0;
#else
    const bool converted = (utc ? gmtime_r(&t, &parts) : localtime_r(&t, &parts)) != nullptr;
#endif
    if (!converted) return seconds < 0 ? kEarliest : kLatest;
    const int year = parts.tm_year + 1900;
    if (year < 1980) return kEarliest;
    if (year > 2107) return kLatest;
    return uint32_t((year - 1980) << 9 | (parts.tm_mon + 1) << 5 | parts.tm_mday) << 16 |
           uint32_t(parts.tm_hour << 11 | parts.tm_min << 5 | parts.tm_sec / 2);
}

bool WriteZip(FILE* out, uint64_t start, const std::vector<PackItem>& items, const PackSettings& settings,
              PackSummary& summary, std::string& error) {
    uint64_t total = 0;
    for (const PackItem& item : items) total += item.size;
    Progress progress(total, settings.showProgress);
    Writer writer(out, start, settings, progress);

    std::vector<Entry> entries;
    entries.reserve(items.size());
    uint64_t done = 0;
    for (const PackItem& item : items) {
        entries.push_back(Entry{&item});
        if (!writer.AddEntry(entries.back(), done, error)) return false;
        done += item.size;
    }
    const uint64_t centralStart = writer.position();
    bool zip64 = entries.size() >= kMaxPlainEntries;
    for (const Entry& e : entries) {
        if (!writer.Write(CentralRecord(e))) return error = "cannot write the output", false;
        zip64 = zip64 || e.Zip64();
    }
    const uint64_t centralSize = writer.position() - centralStart;
    const uint64_t centralOffset = centralStart - settings.offsetBase;
    zip64 = zip64 || centralOffset >= kZip64Marker32 || centralSize >= kZip64Marker32;
    const size_t endSize = EndRecords(entries.size(), centralSize, centralOffset, zip64, 0).size();
    const size_t comment = size_t(AlignmentPadding(writer.position() + endSize));
    if (!writer.Write(EndRecords(entries.size(), centralSize, centralOffset, zip64, comment)))
        return error = "cannot write the output", false;
    summary.archiveSize = writer.position() - start;
    summary.entries = entries.size();
    summary.zip64 = zip64;
    return true;
}
