// Digests of whole files as text: two upper-case hexadecimal digits per
// digest byte, ended by a NUL.
//
// A text that contains "ERROR" is not a digest: it says the file could not
// be opened, or could not be read to its end. Such texts have the length
// of the digest text they stand for, so that log columns stay aligned.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "hash/md5.h"
#include "hash/sha1.h"
#include "hash/sha256.h"
#include "hash/sha512.h"

namespace veldro::platform {
class FileSystem;
}  // namespace veldro::platform

namespace veldro::hash {

enum class DigestKind : std::uint8_t { md5, sha1, sha256, sha384, sha512 };

// Text buffers, one byte longer than the text for the NUL.
using Md5Text = std::array<char, 33>;
using Sha1Text = std::array<char, 41>;
using Sha256Text = std::array<char, 65>;
using Sha384Text = std::array<char, 97>;
using Sha512Text = std::array<char, 129>;

// Texts for a file that neither way of opening could open. The SHA-2
// kinds have none: their routines give no result.
inline constexpr std::string_view md5_open_error_text = "- ERROR - FILE POSSIBLY LOCKED -";
inline constexpr std::string_view sha1_open_error_text = "-- ERROR - FILE POSSIBLY LOCKED BY OS --";

// Texts of MD5 and SHA-1 for a file that opened but could not be read to
// its end (a read error of the drive is no lock).
inline constexpr std::string_view md5_read_error_text = "- ERROR - FILE COULD NOT BE READ";
inline constexpr std::string_view sha1_read_error_text = "---- ERROR - FILE COULD NOT BE READ ----";

// Gives the error text of `kind` for a file that opened but could not be
// read to its end, of the width of the kind's digest text.
std::string_view read_error_text(DigestKind kind);

// Gives the error text of `kind` for a file that is not there at all, of
// the width of the kind's digest text.
std::string_view not_found_text(DigestKind kind);

// Which digests one pass over a file computes.
struct DigestSelection {
    bool md5 = true;
    bool sha1 = false;
    bool sha256 = false;
    bool sha384 = false;
    bool sha512 = false;
};

enum class DigestStatus : std::uint8_t {
    // Every selected text is the digest of the whole file.
    ok,
    // The file could not be opened either way: MD5 and SHA-1 hold their
    // open error texts, the SHA-2 texts are empty (no result).
    open_failed,
    // A read failed before the end of the file: every selected text is its
    // kind's error text, never a digest of the bytes read so far.
    read_failed,
};

// The digest texts of one file. Texts of kinds not selected are empty.
struct HashSet {
    DigestStatus status = DigestStatus::ok;
    Md5Text md5{};
    Sha1Text sha1{};
    Sha256Text sha256{};
    Sha384Text sha384{};
    Sha512Text sha512{};

    [[nodiscard]] std::string_view text(DigestKind kind) const;
    // Status ok and every text empty.
    void clear();
};

// Every selected digest of bytes given piece by piece, in order: the way a
// copy that reads its source once hashes what it writes.
class DigestFeed {
public:
    // Begins the digests of `selection` afresh.
    void start(const DigestSelection& selection);
    void add(const unsigned char* data, std::size_t size);
    // add() on the feed `self` points to, in the shape a copy's byte taker
    // has.
    static void take(void* self, const unsigned char* data, std::size_t size) {
        static_cast<DigestFeed*>(self)->add(data, size);
    }
    // Puts the texts of the selected kinds in `out` (the others empty).
    void finish(HashSet& out);

    // Adds `size` bytes to each of two feeds at once (a source and its copy
    // read back): where both take MD5, the two run side by side in the
    // processor's lanes.
    static void add_both(DigestFeed& first, const unsigned char* first_data, DigestFeed& second,
                         const unsigned char* second_data, std::size_t size);
    // add_both() in the shape a copy's paired byte taker has.
    static void take_both(void* first, const unsigned char* first_data, void* second, const unsigned char* second_data,
                          std::size_t size) {
        add_both(*static_cast<DigestFeed*>(first), first_data, *static_cast<DigestFeed*>(second), second_data, size);
    }

    // Adds each piece to its feed (`feeds` point to DigestFeeds): pieces of
    // many streams at once (several copies' sources and read-backs), their
    // MD5 side by side in the processor's lanes. The shape a group copy's
    // byte taker has.
    static void take_many(void* const* feeds, const unsigned char* const* data, const std::size_t* sizes,
                          std::size_t count);

private:
    // The selected kinds other than MD5.
    void add_sha(const unsigned char* data, std::size_t size);

    DigestSelection selection_;
    Md5Context md5_;
    Sha1Context sha1_;
    Sha256Context sha256_;
    Sha384Context sha384_;
    Sha512Context sha512_;
};

// Puts the texts that say the source changed while it was read in place of
// whatever `out` holds, each of its kind's width: bytes of a file that moved
// under the reader are the digest of no state the file ever had.
void put_changed_texts(const DigestSelection& selection, HashSet& out);
std::string_view changed_text(DigestKind kind);

// Gives bytes of a source one piece at a time: the count placed in the
// buffer, 0 at the end, -1 when the source cannot be read.
using ReadStep = std::int64_t (*)(void* source, void* buffer, std::size_t size);

// Computes every selected digest of a file in one read of it, through a
// read buffer obtained once and reused for every file.
class DigestReader {
public:
    // Reads this large keep the processor busy and the calls few.
    static constexpr std::size_t default_buffer_size = std::size_t{1} << 20U;
    static constexpr std::size_t smallest_buffer_size = std::size_t{64} << 10U;

    // A size below the smallest is raised to it. The buffer is the only
    // memory the reader takes, once, here.
    explicit DigestReader(std::size_t buffer_size = default_buffer_size);

    // Opens the file first without admitting other writers and, when that is
    // refused, again with a permissive read-only open; then reads it once.
    DigestStatus hash_file(const std::string& path, const DigestSelection& selection, HashSet& out);
    // The same through `files` (the machine's own, or a test's);
    // `from_device`: the file is read from its device, not the cache.
    DigestStatus hash_file(platform::FileSystem& files, const std::string& path, const DigestSelection& selection,
                           HashSet& out, bool from_device = false);

    // The same over any source of bytes (a stream, an already open file).
    DigestStatus hash_source(ReadStep read, void* source, const DigestSelection& selection, HashSet& out);

private:
    std::unique_ptr<unsigned char[]> buffer_;
    std::size_t size_;
};

// Puts the not-found texts of the selected kinds in place of whatever
// `out` holds (for a file whose open failed because it does not exist).
void put_not_found_texts(const DigestSelection& selection, HashSet& out);

// The MD5 digest of a whole file: a pointer to its text, or to the open or
// read error text when the file cannot be opened or read to its end. When
// `out` is given the text is placed there and the pointer points into it;
// otherwise it points to a text of the routine's own that stays valid until
// its next call on the same thread. Null when the routine's read buffer
// cannot be obtained: the caller says so.
const char* md5_file_digest(const std::string& path, Md5Text* out = nullptr);

}  // namespace veldro::hash
