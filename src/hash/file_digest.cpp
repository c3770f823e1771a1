#include "hash/file_digest.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>

#include "hash/md5.h"
#include "hash/md5_lanes.h"
#include "hash/sha1.h"
#include "hash/sha256.h"
#include "hash/sha512.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/thread_owned.h"

namespace veldro::hash {

namespace {

// An error text of exactly N characters: the message centred between dashes.
template <std::size_t N>
constexpr std::array<char, N + 1> padded_error_text(std::string_view message) {
    std::array<char, N + 1> text{};
    for (std::size_t i = 0; i < N; ++i) {
        text[i] = '-';
    }
    const std::size_t start = (N - message.size()) / 2;
    for (std::size_t i = 0; i < message.size(); ++i) {
        text[start + i] = message[i];
    }
    text[N] = '\0';
    return text;
}

constexpr std::string_view read_error_message = " ERROR - FILE COULD NOT BE READ TO ITS END ";
constexpr auto sha256_read_error = padded_error_text<64>(read_error_message);
constexpr auto sha384_read_error = padded_error_text<96>(read_error_message);
constexpr auto sha512_read_error = padded_error_text<128>(read_error_message);

constexpr std::string_view changed_message = " ERROR - SOURCE CHANGED ";
constexpr auto md5_changed = padded_error_text<32>(changed_message);
constexpr auto sha1_changed = padded_error_text<40>(changed_message);
constexpr auto sha256_changed = padded_error_text<64>(changed_message);
constexpr auto sha384_changed = padded_error_text<96>(changed_message);
constexpr auto sha512_changed = padded_error_text<128>(changed_message);

constexpr std::string_view not_found_message = " ERROR - FILE NOT FOUND ";
constexpr auto md5_not_found = padded_error_text<32>(not_found_message);
constexpr auto sha1_not_found = padded_error_text<40>(not_found_message);
constexpr auto sha256_not_found = padded_error_text<64>(not_found_message);
constexpr auto sha384_not_found = padded_error_text<96>(not_found_message);
constexpr auto sha512_not_found = padded_error_text<128>(not_found_message);

template <std::size_t N>
void put_text(std::array<char, N>& out, std::string_view text) {
    const std::size_t n = std::min(text.size(), N - 1);
    std::copy_n(text.data(), n, out.data());
    out[n] = '\0';
}

template <std::size_t N, std::size_t M>
void put_hex(std::array<char, N>& out, const std::array<unsigned char, M>& digest) {
    static_assert(N == 2 * M + 1, "text buffer must hold two digits per byte and the NUL");
    constexpr char digits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < M; ++i) {
        out[2 * i] = digits[digest[i] >> 4U];
        out[2 * i + 1] = digits[digest[i] & 0x0FU];
    }
    out[2 * M] = '\0';
}

void put_open_errors(const DigestSelection& selection, HashSet& out) {
    out.clear();
    out.status = DigestStatus::open_failed;
    if (selection.md5) {
        put_text(out.md5, md5_open_error_text);
    }
    if (selection.sha1) {
        put_text(out.sha1, sha1_open_error_text);
    }
}

// Clears `out`, gives it `status` and the text of each selected kind.
void put_texts(const DigestSelection& selection, HashSet& out, DigestStatus status,
               std::string_view (*text_of)(DigestKind)) {
    out.clear();
    out.status = status;
    if (selection.md5) {
        put_text(out.md5, text_of(DigestKind::md5));
    }
    if (selection.sha1) {
        put_text(out.sha1, text_of(DigestKind::sha1));
    }
    if (selection.sha256) {
        put_text(out.sha256, text_of(DigestKind::sha256));
    }
    if (selection.sha384) {
        put_text(out.sha384, text_of(DigestKind::sha384));
    }
    if (selection.sha512) {
        put_text(out.sha512, text_of(DigestKind::sha512));
    }
}

void put_read_errors(const DigestSelection& selection, HashSet& out) {
    put_texts(selection, out, DigestStatus::read_failed, read_error_text);
}

}  // namespace

std::string_view read_error_text(DigestKind kind) {
    switch (kind) {
        case DigestKind::md5:
            return md5_read_error_text;
        case DigestKind::sha1:
            return sha1_read_error_text;
        case DigestKind::sha256:
            return {sha256_read_error.data(), sha256_read_error.size() - 1};
        case DigestKind::sha384:
            return {sha384_read_error.data(), sha384_read_error.size() - 1};
        case DigestKind::sha512:
            return {sha512_read_error.data(), sha512_read_error.size() - 1};
    }
    return {};
}

std::string_view not_found_text(DigestKind kind) {
    switch (kind) {
        case DigestKind::md5:
            return {md5_not_found.data(), md5_not_found.size() - 1};
        case DigestKind::sha1:
            return {sha1_not_found.data(), sha1_not_found.size() - 1};
        case DigestKind::sha256:
            return {sha256_not_found.data(), sha256_not_found.size() - 1};
        case DigestKind::sha384:
            return {sha384_not_found.data(), sha384_not_found.size() - 1};
        case DigestKind::sha512:
            return {sha512_not_found.data(), sha512_not_found.size() - 1};
    }
    return {};
}

std::string_view changed_text(DigestKind kind) {
    switch (kind) {
        case DigestKind::md5:
            return {md5_changed.data(), md5_changed.size() - 1};
        case DigestKind::sha1:
            return {sha1_changed.data(), sha1_changed.size() - 1};
        case DigestKind::sha256:
            return {sha256_changed.data(), sha256_changed.size() - 1};
        case DigestKind::sha384:
            return {sha384_changed.data(), sha384_changed.size() - 1};
        case DigestKind::sha512:
            return {sha512_changed.data(), sha512_changed.size() - 1};
    }
    return {};
}

void put_changed_texts(const DigestSelection& selection, HashSet& out) {
    put_texts(selection, out, DigestStatus::read_failed, changed_text);
}

void put_not_found_texts(const DigestSelection& selection, HashSet& out) {
    put_texts(selection, out, DigestStatus::open_failed, not_found_text);
}

std::string_view HashSet::text(DigestKind kind) const {
    switch (kind) {
        case DigestKind::md5:
            return md5.data();
        case DigestKind::sha1:
            return sha1.data();
        case DigestKind::sha256:
            return sha256.data();
        case DigestKind::sha384:
            return sha384.data();
        case DigestKind::sha512:
            return sha512.data();
    }
    return {};
}

void HashSet::clear() {
    status = DigestStatus::ok;
    md5[0] = '\0';
    sha1[0] = '\0';
    sha256[0] = '\0';
    sha384[0] = '\0';
    sha512[0] = '\0';
}

void DigestFeed::start(const DigestSelection& selection) {
    selection_ = selection;
    if (selection.md5) {
        md5_.start();
    }
    if (selection.sha1) {
        sha1_.start();
    }
    if (selection.sha256) {
        sha256_.start();
    }
    if (selection.sha384) {
        sha384_.start();
    }
    if (selection.sha512) {
        sha512_.start();
    }
}

void DigestFeed::add(const unsigned char* data, std::size_t size) {
    if (selection_.md5) {
        md5_.add(data, size);
    }
    add_sha(data, size);
}

void DigestFeed::add_both(DigestFeed& first, const unsigned char* first_data, DigestFeed& second,
                          const unsigned char* second_data, std::size_t size) {
    if (!first.selection_.md5 || !second.selection_.md5) {
        first.add(first_data, size);
        second.add(second_data, size);
        return;
    }
    Md5Context* const contexts[2] = {&first.md5_, &second.md5_};
    const unsigned char* const data[2] = {first_data, second_data};
    const std::size_t sizes[2] = {size, size};
    md5_add_lanes(contexts, data, sizes, 2);
    first.add_sha(first_data, size);
    second.add_sha(second_data, size);
}

void DigestFeed::take_many(void* const* feeds, const unsigned char* const* data, const std::size_t* sizes,
                           std::size_t count) {
    // The MD5 contexts in groups of as many as the lanes can take at once.
    constexpr std::size_t batch = 2 * md5_max_lanes;
    std::array<Md5Context*, batch> contexts{};
    std::array<const unsigned char*, batch> pieces{};
    std::array<std::size_t, batch> lengths{};
    std::size_t md5_count = 0;
    for (std::size_t i = 0; i < count; ++i) {
        auto* feed = static_cast<DigestFeed*>(feeds[i]);
        if (feed->selection_.md5) {
            contexts.at(md5_count) = &feed->md5_;
            pieces.at(md5_count) = data[i];
            lengths.at(md5_count) = sizes[i];
            if (++md5_count == batch) {
                md5_add_lanes(contexts.data(), pieces.data(), lengths.data(), md5_count);
                md5_count = 0;
            }
        }
        feed->add_sha(data[i], sizes[i]);
    }
    md5_add_lanes(contexts.data(), pieces.data(), lengths.data(), md5_count);
}

void DigestFeed::add_sha(const unsigned char* data, std::size_t size) {
    if (selection_.sha1) {
        sha1_.add(data, size);
    }
    if (selection_.sha256) {
        sha256_.add(data, size);
    }
    if (selection_.sha384) {
        sha384_.add(data, size);
    }
    if (selection_.sha512) {
        sha512_.add(data, size);
    }
}

void DigestFeed::finish(HashSet& out) {
    out.clear();
    if (selection_.md5) {
        put_hex(out.md5, md5_.finish());
    }
    if (selection_.sha1) {
        put_hex(out.sha1, sha1_.finish());
    }
    if (selection_.sha256) {
        put_hex(out.sha256, sha256_.finish());
    }
    if (selection_.sha384) {
        put_hex(out.sha384, sha384_.finish());
    }
    if (selection_.sha512) {
        put_hex(out.sha512, sha512_.finish());
    }
}

DigestReader::DigestReader(std::size_t buffer_size) : size_(std::max(buffer_size, smallest_buffer_size)) {
    buffer_ = std::make_unique_for_overwrite<unsigned char[]>(size_);
}

DigestStatus DigestReader::hash_file(const std::string& path, const DigestSelection& selection, HashSet& out) {
    platform::NativeFileSystem native;
    return hash_file(native, path, selection, out);
}

DigestStatus DigestReader::hash_file(platform::FileSystem& files, const std::string& path,
                                     const DigestSelection& selection, HashSet& out, bool from_device) {
    platform::ReadBackFile file;
    if (files.open_read_back(path, file, from_device)) {
        put_open_errors(selection, out);
        return out.status;
    }
    return hash_source(file.step, file.source, selection, out);
}

DigestStatus DigestReader::hash_source(ReadStep read, void* source, const DigestSelection& selection, HashSet& out) {
    DigestFeed feed;
    feed.start(selection);
    for (;;) {
        const std::int64_t got = read(source, buffer_.get(), size_);
        if (got < 0) {
            // The bytes read so far are not the file: a digest of them would
            // pass for the digest of a different, shorter file.
            put_read_errors(selection, out);
            return out.status;
        }
        if (got == 0) {
            break;
        }
        feed.add(buffer_.get(), static_cast<std::size_t>(got));
    }
    feed.finish(out);
    return out.status;
}

namespace {

// The reader behind md5_file_digest: made on first use, kept for the rest
// of the thread's life.
DigestReader* shared_reader() {
    thread_local platform::ThreadOwned<DigestReader> reader;
    return reader.try_get();
}

// Hashes MD5 alone into the routine's own set; null when no buffer.
const HashSet* hash_md5(const std::string& path) {
    thread_local platform::ThreadOwned<HashSet> own;
    DigestReader* reader = shared_reader();
    HashSet* set = own.try_get();
    if (reader == nullptr || set == nullptr) {
        return nullptr;
    }
    reader->hash_file(path, DigestSelection{}, *set);
    return set;
}

}  // namespace

const char* md5_file_digest(const std::string& path, Md5Text* out) {
    const HashSet* set = hash_md5(path);
    if (set == nullptr) {
        return nullptr;
    }
    if (out == nullptr) {
        return set->md5.data();
    }
    *out = set->md5;
    return out->data();
}

}  // namespace veldro::hash
