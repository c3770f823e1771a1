#include "verify/record.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <unordered_set>

#include "util/paths.h"
#include "util/text.h"

namespace veldro::verify {

namespace {

constexpr std::array<hash::DigestKind, 5> all_kinds{hash::DigestKind::md5, hash::DigestKind::sha1,
                                                    hash::DigestKind::sha256, hash::DigestKind::sha384,
                                                    hash::DigestKind::sha512};

constexpr std::size_t hex_length(hash::DigestKind kind) {
    constexpr std::array<std::size_t, 5> lengths{32, 40, 64, 96, 128};
    return lengths.at(static_cast<std::size_t>(kind));
}

bool is_hex(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    });
}

// The kind of a digest text by its length, or false for a text of no
// digest's length.
bool kind_of_length(std::size_t length, hash::DigestKind& kind) {
    for (const hash::DigestKind k : all_kinds) {
        if (hex_length(k) == length) {
            kind = k;
            return true;
        }
    }
    return false;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

char* text_of(hash::HashSet& set, hash::DigestKind kind) {
    switch (kind) {
        case hash::DigestKind::md5:
            return set.md5.data();
        case hash::DigestKind::sha1:
            return set.sha1.data();
        case hash::DigestKind::sha256:
            return set.sha256.data();
        case hash::DigestKind::sha384:
            return set.sha384.data();
        case hash::DigestKind::sha512:
            return set.sha512.data();
    }
    return set.md5.data();
}

void put_text(hash::HashSet& set, hash::DigestKind kind, std::string_view hex) {
    char* out = text_of(set, kind);
    for (std::size_t i = 0; i < hex.size(); ++i) {
        const char c = hex[i];
        out[i] = (c >= 'a' && c <= 'f') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    out[hex.size()] = '\0';
}

// The parts of a path, split at either separator a system of this build
// takes; false when a part is empty, "." or "..".
bool plain_parts(std::string_view path) {
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t end = at;
        while (end < path.size() && !paths::is_separator(path[end])) {
            ++end;
        }
        const std::string_view part = path.substr(at, end - at);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        at = end + 1;
    }
    return true;
}

// Length of the root of an absolute path ("/", "C:\", "\\server\share\"),
// 0 when the path is not absolute.
std::size_t root_length(std::string_view path) {
    if constexpr (paths::native_style == paths::Style::windows) {
        if (path.size() >= 3 && path[1] == ':' && paths::is_separator(path[2])) {
            return 3;
        }
        if (path.size() > 2 && paths::is_separator(path[0]) && paths::is_separator(path[1])) {
            const std::size_t server_end = path.find_first_of("\\/", 2);
            const std::size_t share_end =
                server_end == std::string_view::npos ? server_end : path.find_first_of("\\/", server_end + 1);
            return share_end == std::string_view::npos ? 0 : share_end + 1;
        }
        return 0;
    }
    return !path.empty() && path[0] == '/' ? 1 : 0;
}

bool absolute_and_plain(std::string_view path) {
    const std::size_t root = root_length(path);
    return root != 0 && (root == path.size() || plain_parts(path.substr(root)));
}

bool same_text(std::string_view a, std::string_view b) {
    return paths::native_style == paths::Style::windows ? paths::equal_ignoring_case(a, b) : a == b;
}

// True when `dir` is `path` or one of the directories above it.
bool directory_above(std::string_view dir, std::string_view path) {
    const std::size_t root = root_length(dir);
    if (dir.size() == root) {
        return path.size() >= root && same_text(path.substr(0, root), dir);
    }
    return path.size() >= dir.size() && same_text(path.substr(0, dir.size()), dir) &&
           (path.size() == dir.size() || paths::is_separator(path[dir.size()]));
}

// The directory of `path` that is also above `other`, at most `path`.
std::string_view common_directory(std::string_view path, std::string_view other) {
    while (!directory_above(path, other)) {
        const std::size_t root = root_length(path);
        std::size_t cut = path.size();
        while (cut > root && !paths::is_separator(path[cut - 1])) {
            --cut;
        }
        path = path.substr(0, cut > root ? cut - 1 : root);
    }
    return path;
}

// XML character data as the manifest writes it: the five entities and
// numeric references.
bool xml_unescape(std::string_view in, std::string& out) {
    out.clear();
    for (std::size_t at = 0; at < in.size();) {
        if (in[at] == '<' || in[at] == '>') {
            return false;
        }
        if (in[at] != '&') {
            out += in[at++];
            continue;
        }
        const std::size_t end = in.find(';', at);
        if (end == std::string_view::npos) {
            return false;
        }
        const std::string_view name = in.substr(at + 1, end - at - 1);
        static constexpr std::array<std::pair<std::string_view, char>, 5> named{
            {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}}};
        const auto* found = std::find_if(named.begin(), named.end(), [&](const auto& n) { return n.first == name; });
        if (found != named.end()) {
            out += found->second;
        } else if (name.size() >= 2 && name[0] == '#') {
            const bool hex = name[1] == 'x';
            unsigned code = 0;
            const std::string_view digits = name.substr(hex ? 2 : 1);
            const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
            // Only the line ends and tab the writer gives as references.
            if (ec != std::errc() || ptr != digits.data() + digits.size() || digits.empty() ||
                (code != '\t' && code != '\n' && code != '\r')) {
                return false;
            }
            out += static_cast<char>(code);
        } else {
            return false;
        }
        at = end + 1;
    }
    return true;
}

// The audit set's escape of a control character, \xHH; every other
// backslash stands for itself.
std::string audit_unescape(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    for (std::size_t at = 0; at < in.size(); ++at) {
        if (in[at] == '\\' && at + 3 < in.size() && in[at + 1] == 'x' && is_hex(in.substr(at + 2, 2))) {
            unsigned byte = 0;
            std::from_chars(in.data() + at + 2, in.data() + at + 4, byte, 16);
            if (byte < 0x20 || byte == 0x7F) {
                out += static_cast<char>(byte);
                at += 3;
                continue;
            }
        }
        out += in[at];
    }
    return out;
}

// One element on a line of its own: <name attributes>text</name>.
struct Element {
    std::string_view name;
    std::string_view attributes;
    std::string_view text;
};

bool element_line(std::string_view line, Element& e) {
    line = trim(line);
    if (line.size() < 7 || line.front() != '<' || line.back() != '>') {
        return false;
    }
    const std::size_t open_end = line.find('>');
    const std::size_t name_end = std::min(line.find(' '), open_end);
    e.name = line.substr(1, name_end - 1);
    e.attributes = name_end < open_end ? trim(line.substr(name_end, open_end - name_end)) : std::string_view();
    const std::size_t close = line.rfind("</");
    if (e.name.empty() || close == std::string_view::npos || close < open_end ||
        line.substr(close + 2, line.size() - close - 3) != e.name) {
        return false;
    }
    e.text = line.substr(open_end + 1, close - open_end - 1);
    return true;
}

}  // namespace

std::string_view kind_name(RecordKind kind) {
    switch (kind) {
        case RecordKind::hash_log:
            return "hash log";
        case RecordKind::dfxml:
            return "DFXML";
        case RecordKind::audit_set:
            return "audit set";
        case RecordKind::unknown:
            break;
    }
    return "record";
}

std::string digest_texts(const hash::HashSet& digests, std::uint8_t kinds) {
    std::string out;
    for (const hash::DigestKind k : all_kinds) {
        if ((kinds & kind_bit(k)) != 0) {
            out += util::to_upper(digests.text(k));
        }
    }
    return out;
}

bool RecordReader::fail(std::string_view why) {
    error_ = "line " + std::to_string(line_number_) + ": " + std::string(why);
    return false;
}

bool RecordReader::add_copy(std::string path, const std::string& expected, std::uint8_t kinds) {
    // An audit made in the destination names its files "./name".
    if (record_.kind == RecordKind::audit_set && (path.starts_with("./") || path.starts_with(".\\"))) {
        path.erase(0, 2);
    }
    if (!absolute_and_plain(path) && !(record_.kind == RecordKind::audit_set && plain_parts(path))) {
        return fail("the path is not a plain path (empty, \".\" or \"..\" parts)");
    }
    record_.copies.push_back(RecordedCopy{std::move(path), expected, kinds});
    return true;
}

bool RecordReader::read_line(std::string_view line) {
    ++line_number_;
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    switch (record_.kind) {
        case RecordKind::unknown:
            return detect(line);
        case RecordKind::hash_log:
            return hash_log_line(line);
        case RecordKind::dfxml:
            return dfxml_line(line);
        case RecordKind::audit_set:
            return audit_set_line(line);
    }
    return false;
}

bool RecordReader::detect(std::string_view line) {
    if (line.starts_with("<?xml ")) {
        record_.kind = RecordKind::dfxml;
        record_.names_links = true;
        return true;
    }
    if (line == "%%%% HASHDEEP-1.0") {
        record_.kind = RecordKind::audit_set;
        return true;
    }
    if (line.empty()) {
        // A hash log begins with the line end of its first record.
        record_.kind = line_number_ == 1 ? RecordKind::hash_log : RecordKind::unknown;
        return line_number_ == 1 || fail("not a hash log, DFXML or audit set");
    }
    return fail("not a hash log, DFXML or audit set");
}

// A line of a hash log that compares source and copy (-H, -h):
//   SOURCE  | MD5  | SHA ...|COPY  | MD5  | SHA ...|[OK]
// Names carry '|' and line ends escaped, so the bars split the fields.
bool RecordReader::hash_log_line(std::string_view line) {
    if (line.empty() || line == "No apparent mismatches in the copied hashes" ||
        line == "No files were hashed in this run" ||
        (line.starts_with("AT LEAST ") && line.ends_with(" HASHES DIDN'T MATCH"))) {
        return true;
    }
    constexpr std::string_view filler = "  SOURCE_FILE FILLER        |      SOURCE_FILE FILLER      |";
    const bool extracted_stream = line.starts_with(filler);
    if (extracted_stream) {
        line.remove_prefix(filler.size());
    }
    std::vector<std::string_view> fields;
    for (std::size_t at = 0;;) {
        const std::size_t bar = line.find('|', at);
        fields.push_back(line.substr(at, bar == std::string_view::npos ? std::string_view::npos : bar - at));
        if (bar == std::string_view::npos) {
            break;
        }
        at = bar + 1;
    }
    std::string_view verdict;
    if (!extracted_stream) {
        verdict = fields.back();
        if (verdict != "[OK]" && verdict != "[HASH ERROR]") {
            // A named stream hashed in place ends " [OK] " or " [ERROR] ":
            // it has no file of its own to check.
            const std::string_view end = trim(verdict);
            if (end.ends_with("[OK]") || end.ends_with("[ERROR]")) {
                return true;
            }
            return fail("a hash log line that does not name source and copy with their digests");
        }
        fields.pop_back();
    }
    // Two sides of as many fields (one for a stream written to a file): a
    // name ending in two blanks, then its digests, MD5 first.
    struct Side {
        std::string_view name;
        hash::HashSet digests;
        std::uint8_t kinds = 0;
        bool usable = true;
    };
    std::array<Side, 2> sides;
    const std::size_t count = extracted_stream ? 1 : 2;
    const std::size_t width = fields.size() / count;
    if (width < 2 || fields.size() % count != 0) {
        return fail("a hash log line that does not name source and copy with their digests");
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        Side& side = sides.at(i / width);
        const std::string_view field = fields[i];
        if (i % width == 0) {
            if (field.size() <= 2 || !field.ends_with("  ")) {
                return fail("a hash log line that does not name source and copy with their digests");
            }
            side.name = field.substr(0, field.size() - 2);
            continue;
        }
        const std::string_view digest = trim(field);
        hash::DigestKind kind{};
        if (!(is_hex(digest) && kind_of_length(digest.size(), kind) && (side.kinds & kind_bit(kind)) == 0 &&
              (side.kinds != 0 || kind == hash::DigestKind::md5))) {
            if (digest.find("ERROR") == std::string_view::npos && !digest.empty()) {
                return fail("a digest field that holds no digest");
            }
            side.usable = false;
            continue;
        }
        put_text(side.digests, kind, digest);
        side.kinds |= kind_bit(kind);
    }
    Side& copy = sides.at(count - 1);
    const Side& source = sides.at(0);
    // A copy that differed from its source is checked against the source.
    const bool against_source = verdict == "[HASH ERROR]" && source.usable && source.kinds != 0;
    const Side& expected = against_source ? source : copy;
    // Names are escaped where a name may hold a line end or a bar; a
    // Windows name holds neither, and its backslashes are separators.
    const std::optional<std::string> path = paths::native_style == paths::Style::windows
                                                ? std::optional<std::string>(copy.name)
                                                : util::unescape_name(copy.name);
    if (!path) {
        return fail("a name with a broken escape");
    }
    const std::uint8_t kinds = expected.usable ? expected.kinds : 0;
    return add_copy(*path, digest_texts(expected.digests, kinds), kinds);
}

// The manifest as its writer lays it out: one element a line, each file in
// a fileobject of its own.
bool RecordReader::dfxml_line(std::string_view line) {
    const std::string_view bare = trim(line);
    if (!in_fileobject_) {
        if (bare.starts_with("<dfxml ") || bare == "<dfxml>") {
            document_begun_ = true;
        } else if (bare == "<fileobject>") {
            if (!document_begun_) {
                return fail("a fileobject outside the document");
            }
            in_fileobject_ = true;
            destination_.clear();
            verdict_.clear();
            source_digests_.clear();
            copy_digests_.clear();
            source_kinds_ = copy_kinds_ = 0;
        } else if (Element e; element_line(bare, e) && e.name == "command_line") {
            if (!xml_unescape(e.text, command_line_)) {
                return fail("a command line that is not XML text");
            }
        }
        return true;
    }
    if (bare == "</fileobject>") {
        in_fileobject_ = false;
        if (destination_.empty() || verdict_ == "not copied") {
            return true;
        }
        // A copy that still differed from its source is checked against
        // the source; a copy hashed itself against its own digests.
        const bool against_source = verdict_ == "mismatch" && source_kinds_ != 0;
        const bool copy = copy_kinds_ != 0 && !against_source;
        const std::uint8_t kinds = copy ? copy_kinds_ : source_kinds_;
        const hash::HashSet& set = copy ? copy_digests_ : source_digests_;
        const bool source_trusted = verdict_ != "source changed";
        return add_copy(destination_, digest_texts(set, copy || source_trusted ? kinds : 0),
                        copy || source_trusted ? kinds : 0);
    }
    Element e;
    if (!element_line(bare, e)) {
        // Elements this check does not read may span lines.
        if (bare.starts_with('<') && bare.ends_with('>')) {
            return true;
        }
        return fail("a line that is not one element");
    }
    std::string text;
    if (!xml_unescape(e.text, text)) {
        return fail("an element whose text is not XML text");
    }
    if (e.name == "veldro:destination") {
        if (e.attributes == "veldro:escaped=\"1\"") {
            const std::optional<std::string> name = util::unescape_name(text);
            if (!name) {
                return fail("a name with a broken escape");
            }
            text = *name;
        } else if (!e.attributes.empty()) {
            return fail("a destination with attributes it never has");
        }
        destination_ = text;
    } else if (e.name == "veldro:verdict") {
        verdict_ = text;
    } else if (e.name == "hashdigest" || e.name == "veldro:hashdigest") {
        const bool of_copy = e.name != "hashdigest";
        static constexpr std::array<std::string_view, 5> types{"md5", "sha1", "sha256", "sha384", "sha512"};
        const auto* type = std::find_if(types.begin(), types.end(), [&](std::string_view t) {
            return e.attributes == "type=\"" + std::string(t) + "\"";
        });
        hash::DigestKind kind{};
        if (type == types.end() || !is_hex(text) || !kind_of_length(text.size(), kind) ||
            static_cast<std::size_t>(kind) != static_cast<std::size_t>(type - types.begin())) {
            return fail("a digest element that holds no digest of its type");
        }
        std::uint8_t& kinds = of_copy ? copy_kinds_ : source_kinds_;
        if ((kinds & kind_bit(kind)) != 0) {
            return fail("a digest given twice");
        }
        put_text(of_copy ? copy_digests_ : source_digests_, kind, text);
        kinds |= kind_bit(kind);
    }
    return true;
}

// The known-hash set: two header lines, "##" comments, then one row a
// file: size, the digests of the column line, and the name last.
bool RecordReader::audit_set_line(std::string_view line) {
    if (!columns_read_) {
        constexpr std::string_view head = "%%%% ";
        if (!line.starts_with(head)) {
            return fail("an audit set without its column line");
        }
        std::string_view rest = line.substr(head.size());
        while (!rest.empty()) {
            const std::size_t comma = rest.find(',');
            const std::string_view column = rest.substr(0, comma);
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            static constexpr std::array<std::string_view, 5> names{"md5", "sha1", "sha256", "sha384", "sha512"};
            const auto* found = std::find(names.begin(), names.end(), column);
            if (column == "size" && columns_.empty() && !has_size_column_) {
                has_size_column_ = true;
            } else if (found != names.end()) {
                columns_.push_back(all_kinds.at(static_cast<std::size_t>(found - names.begin())));
            } else if (column != "filename" || !rest.empty()) {
                return fail("a column this check cannot read (only size, the digests and the name, name last)");
            }
        }
        if (columns_.empty() || !line.ends_with(",filename")) {
            return fail("an audit set without digest or name columns");
        }
        columns_read_ = true;
        return true;
    }
    if (line.starts_with("##")) {
        if (line.starts_with("## Invoked from: ")) {
            invoked_from_ = audit_unescape(line.substr(17));
        } else if (line.starts_with("## $ ")) {
            command_line_ = audit_unescape(line.substr(5));
        }
        return true;
    }
    if (line.empty()) {
        return true;
    }
    std::string_view rest = line;
    const auto next_field = [&rest]() {
        const std::size_t comma = rest.find(',');
        const std::string_view field = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        return comma == std::string_view::npos ? std::optional<std::string_view>() : std::optional(field);
    };
    if (has_size_column_) {
        const std::optional<std::string_view> size = next_field();
        if (!size || size->empty() || size->find_first_not_of("0123456789") != std::string_view::npos) {
            return fail("a row without its size");
        }
    }
    hash::HashSet set;
    std::uint8_t kinds = 0;
    for (const hash::DigestKind kind : columns_) {
        const std::optional<std::string_view> digest = next_field();
        if (!digest || !is_hex(*digest) || digest->size() != hex_length(kind)) {
            return fail("a row without its digests");
        }
        put_text(set, kind, *digest);
        kinds |= kind_bit(kind);
    }
    if (rest.empty()) {
        return fail("a row without a name");
    }
    return add_copy(audit_unescape(rest), digest_texts(set, kinds), kinds);
}

// A hash log that later runs appended to names a copy once for every run
// that wrote it: the last writer's digests stand, in its place.
void RecordReader::keep_last_of_each() {
    std::vector<RecordedCopy>& copies = record_.copies;
    std::unordered_set<std::string> seen;
    std::size_t kept = copies.size();
    for (std::size_t i = copies.size(); i-- > 0;) {
        if (seen.insert(copies[i].path).second && --kept != i) {
            copies[kept] = std::move(copies[i]);
        }
    }
    copies.erase(copies.begin(), copies.begin() + static_cast<std::ptrdiff_t>(kept));
}

bool RecordReader::finish() {
    if (record_.kind == RecordKind::unknown) {
        return fail("an empty file is not a hash log, DFXML or audit set");
    }
    if (record_.kind == RecordKind::audit_set && !columns_read_) {
        return fail("an audit set without its column line");
    }
    if (in_fileobject_) {
        return fail("a fileobject not closed");
    }
    std::vector<RecordedCopy>& copies = record_.copies;
    const bool relative =
        std::any_of(copies.begin(), copies.end(), [](const RecordedCopy& c) { return root_length(c.path) == 0; });
    if (relative) {
        // Relative names are taken against the directory the set was made
        // in, as an audit takes them.
        if (!absolute_and_plain(invoked_from_)) {
            return fail("relative names, but no absolute directory they were taken in");
        }
        record_.root = invoked_from_;
        keep_last_of_each();
        for (RecordedCopy& c : copies) {
            if (root_length(c.path) != 0) {
                return fail("relative and absolute names mixed");
            }
        }
        return true;
    }
    if (copies.empty()) {
        record_.root.clear();
        return true;
    }
    std::string_view root = paths::parent(copies.front().path);
    for (const RecordedCopy& c : copies) {
        root = common_directory(root, c.path);
    }
    // The destination the command line named, when one of its words is a
    // directory above every copy (the copies may all lie deeper).
    std::string_view named;
    for (std::size_t at = 0; at < command_line_.size();) {
        std::size_t end = command_line_.find(' ', at);
        end = end == std::string::npos ? command_line_.size() : end;
        std::string_view word = std::string_view(command_line_).substr(at, end - at);
        if (const std::size_t equals = word.find('='); word.starts_with("-") && equals != std::string_view::npos) {
            word.remove_prefix(equals + 1);
        }
        while (word.size() > root_length(word) && paths::is_separator(word.back())) {
            word.remove_suffix(1);
        }
        if (absolute_and_plain(word) && directory_above(word, root) && word.size() > named.size()) {
            named = word;
        }
        at = end + 1;
    }
    record_.root = std::string(named.empty() ? root : named);
    keep_last_of_each();
    const std::size_t cut =
        record_.root.size() == root_length(record_.root) ? record_.root.size() : record_.root.size() + 1;
    for (RecordedCopy& c : copies) {
        c.path.erase(0, cut);
        if (!plain_parts(c.path)) {
            return fail("a copy named by the destination directory itself");
        }
    }
    return true;
}

}  // namespace veldro::verify
