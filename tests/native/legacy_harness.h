// Running the Unshrink, Unreduce and Explode decoders the way the extraction loop does:
// the archive in a real stdio stream, the reader finding the entry, the password check
// switching decryption on or off, then DecodeEntry into an output stream. Every sink call
// is recorded with the archive position the progress report was given, and the Cancel
// state can be raised after any call. No GoogleTest here: the benchmark uses it too.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "archive/crc32.h"
#include "archive/zip_reader.h"
#include "codecs/decode_entry.h"
#include "codecs/entry_stream.h"
#include "codecs/legacy_decoders.h"
#include "crypto/zip_crypto.h"

namespace legacy {

using Bytes = std::vector<uint8_t>;

inline Bytes ReadFileBytes(const std::string& path) {
    Bytes bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return bytes;
    uint8_t buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
    fclose(file);
    return bytes;
}

inline bool WriteFileBytes(const std::string& path, const Bytes& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
}

// Standard output of a shell command, and its exit status.
inline int RunCommand(const std::string& command, Bytes* out = nullptr) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    uint8_t buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        if (out) out->insert(out->end(), buffer, buffer + got);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline uint32_t Crc32(const Bytes& bytes) {
    BuildCrcTable();
    return UpdateCrc(0, bytes.data(), bytes.size());
}

struct SinkCall {
    uint32_t size;
    long position;  // ArchivePosition when the progress report was made
    bool operator==(const SinkCall& o) const { return size == o.size && position == o.position; }
};

struct Decoded {
    bool found = false;       // the reader handed out the entry
    bool passwordOk = false;  // CheckPassword accepted (1) the password given
    EntryRecord entry{};
    Bytes output;
    std::vector<SinkCall> calls;
    uint32_t runningCrc = 0;
    int endOfInput = 0;
    long endPosition = 0;  // ArchivePosition after the decoder
    int result = 0;        // the decoder's own result (RunDecoder only)
};

struct Options {
    int entryIndex = 0;           // which entry of the archive
    const char* password = nullptr;
    int cancelAfterCalls = -1;    // raise the Cancel state after this many sink calls
    bool readOnlyOutput = false;  // every write fails short
};

namespace detail {
struct Recorder {
    EntryStream* stream;
    std::vector<SinkCall>* calls;
    long lastOutputSize;
    int cancelAfter;
    int* cancel;
};
inline void Record(void* context, uint32_t) {
    Recorder& r = *static_cast<Recorder*>(context);
    fflush(r.stream->output);
    const long now = ftell(r.stream->output);
    r.calls->push_back({uint32_t(now - r.lastOutputSize), long(ArchivePosition(*r.stream))});
    r.lastOutputSize = now;
    if (r.cancelAfter >= 0 && int(r.calls->size()) >= r.cancelAfter) *r.cancel = 100;
}
}  // namespace detail

// Sizes of the sink calls.
inline std::vector<uint32_t> CallSizes(const Decoded& d) {
    std::vector<uint32_t> sizes;
    for (const SinkCall& c : d.calls) sizes.push_back(c.size);
    return sizes;
}

// The calls of a decoder with a 16 KiB window: whole blocks, then the rest, even none.
inline std::vector<uint32_t> BlockCalls(size_t size) {
    std::vector<uint32_t> calls(size / 16384, 16384);
    calls.push_back(uint32_t(size % 16384));
    return calls;
}

namespace detail {
// Runs `decoder` on a stream over `file`, which stands at the first compressed byte,
// with decryption as `prepare` leaves it.
template <typename Prepare, typename Decoder>
void Run(FILE* file, const Options& options, Decoded& d, Prepare prepare, Decoder decoder) {
    FILE* output = options.readOnlyOutput ? fopen("/dev/null", "rb") : tmpfile();
    if (!output) return;
    uint8_t* work = static_cast<uint8_t*>(malloc(kWorkBufferSize));
    int cancel = 0;
    StreamHost host{&cancel, Record, nullptr};
    EntryStream* s = static_cast<EntryStream*>(calloc(1, sizeof(EntryStream)));
    s->archive = file;
    s->output = output;
    s->host = &host;
    Recorder recorder{s, &d.calls, 0, options.cancelAfterCalls, &cancel};
    host.context = &recorder;
    if (prepare(*s)) {
        BeginEntryData(*s);
        ResetRunningCrc(*s);
        d.result = decoder(*s, d.entry, work);
        d.runningCrc = s->runningCrc;
        d.endOfInput = s->endOfInput;
        d.endPosition = ArchivePosition(*s);
        if (!options.readOnlyOutput) {
            rewind(output);
            uint8_t buffer[65536];
            size_t got;
            while ((got = fread(buffer, 1, sizeof buffer, output)) > 0)
                d.output.insert(d.output.end(), buffer, buffer + got);
        }
    }
    free(s);
    free(work);
    fclose(output);
}

inline FILE* FileWith(const Bytes& bytes) {
    FILE* file = tmpfile();
    if (!file) return nullptr;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fflush(file);
    rewind(file);
    return file;
}
}  // namespace detail

// Decodes entry `options.entryIndex` of `archive` through the reader, the password
// check and `decoder` (DecodeEntry unless given).
template <typename Decoder>
Decoded Decode(const Bytes& archive, const Options& options, Decoder decoder) {
    Decoded d;
    BuildCrcTable();
    FILE* file = detail::FileWith(archive);
    if (!file) return d;
    ZipReader reader{};
    reader.archive = file;
    int index = -1;
    if (FindCentralDirectory(reader) != 0) {
        while (index < options.entryIndex && NextEntry(reader, d.entry)) ++index;
    }
    if (index == options.entryIndex) {
        d.found = true;
        detail::Run(file, options, d, [&](EntryStream& s) {
            const bool encrypted = d.entry.flags & kFlagEncrypted;
            d.passwordOk = CheckPassword(s.decryption, file, encrypted ? options.password : nullptr, d.entry,
                                         reader.central) == 1;
            return d.passwordOk;
        }, decoder);
    }
    fclose(file);
    return d;
}

inline Decoded Decode(const Bytes& archive, const Options& options = {}) {
    return Decode(archive, options, [](EntryStream& s, const EntryRecord& e, uint8_t* work) {
        DecodeEntry(s, e, work);
        return 0;
    });
}

// Runs `decoder` on `stream` alone: the file ends where the stream does, so the Bit
// reader meets the end of input there. No decryption.
template <typename Decoder>
Decoded DecodeRaw(const Bytes& stream, Decoder decoder, const Options& options = {}) {
    Decoded d;
    BuildCrcTable();
    FILE* file = detail::FileWith(stream);
    if (!file) return d;
    d.found = true;
    detail::Run(file, options, d, [](EntryStream&) { return true; }, decoder);
    fclose(file);
    return d;
}

inline std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Info-ZIP unzip on `zip`: the status of `unzip -t` and the bytes `unzip -p` gives for
// `name` (with `password` when not empty).
struct UnzipResult {
    int testStatus = -1;
    Bytes extracted;
};

inline UnzipResult RunUnzip(const Bytes& zip, const std::string& name, const std::string& password = "") {
    UnzipResult r;
    const char* base = getenv("TMPDIR");
    std::string path = std::string(base && *base ? base : "/tmp") + "/dudore-legacy-XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0) return r;
    close(fd);
    if (!WriteFileBytes(path, zip)) return r;
    const std::string pass = password.empty() ? "" : "-P " + ShellQuote(password) + " ";
    r.testStatus = RunCommand("unzip -qq -t " + pass + ShellQuote(path) + " >/dev/null 2>&1");
    RunCommand("unzip -p " + pass + ShellQuote(path) + " " + ShellQuote(name) + " 2>/dev/null", &r.extracted);
    unlink(path.c_str());
    return r;
}

}  // namespace legacy
