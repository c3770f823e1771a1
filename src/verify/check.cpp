#include "verify/check.h"

#include <algorithm>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "hash/file_digest.h"
#include "platform/system.h"
#include "platform/thread_owned.h"
#include "util/ordered_work.h"
#include "util/paths.h"

namespace veldro::verify {

namespace {

// What the walk of the destination found at one path below it.
struct Found {
    platform::EntryKind kind = platform::EntryKind::regular;
    bool named = false;  // the record names it
};

struct Walked {
    std::unordered_map<std::string, Found> entries;
    // Directories that could not be listed, with the system's reason.
    std::unordered_map<std::string, std::string> unlisted;
};

// Every entry below `root`, by its path below it. Links and other special
// entries are noted, never followed or opened.
Walked walk_destination(platform::FileSystem& files, const std::string& root) {
    Walked walked;
    std::vector<std::string> pending{std::string()};
    platform::FindRecord entry;
    while (!pending.empty()) {
        const std::string dir = std::move(pending.back());
        pending.pop_back();
        std::unique_ptr<platform::DirectoryListing> listing;
        if (const std::error_code error = files.list(dir.empty() ? root : paths::join(root, dir), "*",
                                                     platform::SearchDetail::kind_only, listing)) {
            // A destination that is not there holds only missing copies.
            if (error != std::errc::no_such_file_or_directory) {
                walked.unlisted.emplace(dir, platform::error_text(error));
            }
            continue;
        }
        while (listing->next(entry)) {
            std::string path = dir.empty() ? entry.name : paths::join(dir, entry.name);
            if (entry.kind == platform::EntryKind::directory) {
                pending.push_back(std::move(path));
            } else {
                walked.entries.emplace(std::move(path), Found{entry.kind, false});
            }
        }
    }
    return walked;
}

// Why a recorded path cannot be reached through the walk: a directory on
// it that could not be listed, or something other than a directory
// standing where one should be. Empty when nothing stands in the way.
std::string in_the_way(const Walked& walked, std::string_view path) {
    for (std::string_view dir = paths::parent(path); !dir.empty(); dir = paths::parent(dir)) {
        const std::string key(dir);
        if (const auto found = walked.entries.find(key); found != walked.entries.end()) {
            return found->second.kind == platform::EntryKind::symlink ? "a link stands on its path and is not followed"
                                                                      : "a file stands where its directory should be";
        }
        if (const auto unlisted = walked.unlisted.find(key); unlisted != walked.unlisted.end()) {
            return "its directory cannot be read (" + unlisted->second + ")";
        }
        if (dir.size() == paths::parent(dir).size()) {
            break;
        }
    }
    if (const auto root = walked.unlisted.find(std::string()); root != walked.unlisted.end()) {
        return "the destination cannot be read (" + root->second + ")";
    }
    return {};
}

struct Item {
    std::size_t index = 0;
    bool to_hash = false;
    Checked checked;
};

hash::DigestReader* thread_reader() {
    thread_local platform::ThreadOwned<hash::DigestReader> reader;
    return reader.try_get();
}

// Reads one copy once, every kind the record holds in that one read.
void hash_copy(platform::FileSystem& files, const std::string& root, const hash::DigestSelection& selection,
               Item& item) {
    Checked& c = item.checked;
    hash::DigestReader* reader = thread_reader();
    if (reader == nullptr) {
        c.finding = Finding::unreadable;
        c.reason = "no memory to read it";
        return;
    }
    platform::ReadBackFile file;
    if (const std::error_code error = files.open_read_back(paths::join(root, c.path), file, false)) {
        c.finding = error == std::errc::no_such_file_or_directory ? Finding::missing : Finding::unreadable;
        c.reason = platform::error_text(error);
        return;
    }
    hash::HashSet digests;
    if (reader->hash_source(file.step, file.source, selection, digests) != hash::DigestStatus::ok) {
        c.finding = Finding::unreadable;
        c.reason = "it could not be read to its end";
        return;
    }
    c.found = digest_texts(digests, c.copy->kinds);
    c.finding = c.found == c.copy->expected ? Finding::matched : Finding::altered;
}

void count(CheckCounts& counts, Finding finding) {
    switch (finding) {
        case Finding::matched:
            ++counts.matched;
            break;
        case Finding::altered:
            ++counts.altered;
            break;
        case Finding::missing:
            ++counts.missing;
            break;
        case Finding::unreadable:
            ++counts.unreadable;
            break;
        case Finding::added:
            ++counts.added;
            break;
    }
}

}  // namespace

CheckCounts check_copies(platform::FileSystem& files, const Record& record, const std::string& root, unsigned threads,
                         const std::vector<std::string>& own_files, const CheckReport& report) {
    Walked walked = walk_destination(files, root);
    hash::DigestSelection selection;
    selection.md5 = false;
    for (const RecordedCopy& copy : record.copies) {
        selection.md5 = selection.md5 || (copy.kinds & kind_bit(hash::DigestKind::md5)) != 0;
        selection.sha1 = selection.sha1 || (copy.kinds & kind_bit(hash::DigestKind::sha1)) != 0;
        selection.sha256 = selection.sha256 || (copy.kinds & kind_bit(hash::DigestKind::sha256)) != 0;
        selection.sha384 = selection.sha384 || (copy.kinds & kind_bit(hash::DigestKind::sha384)) != 0;
        selection.sha512 = selection.sha512 || (copy.kinds & kind_bit(hash::DigestKind::sha512)) != 0;
    }
    CheckCounts counts;
    {
        util::OrderedWork<Item> pool(
            threads, 64, std::size_t{64} << 20U,
            [&](Item& item, bool worked) {
                if (item.to_hash && !worked) {
                    item.checked.finding = Finding::unreadable;
                    item.checked.reason = "not read: the run was stopped";
                }
                count(counts, item.checked.finding);
                report(item.checked);
            },
            platform::interrupt_requested);
        for (std::size_t i = 0; i < record.copies.size(); ++i) {
            const RecordedCopy& copy = record.copies[i];
            Item item{i, false, Checked{&copy, copy.path, Finding::matched, {}, {}}};
            const auto found = walked.entries.find(copy.path);
            if (found == walked.entries.end()) {
                item.checked.reason = in_the_way(walked, copy.path);
                item.checked.finding = item.checked.reason.empty() ? Finding::missing : Finding::unreadable;
            } else {
                found->second.named = true;
                if (found->second.kind == platform::EntryKind::symlink && copy.kinds == 0) {
                    // A link the run recreated as a link: it has no digest
                    // and is not followed.
                    item.checked.finding = Finding::matched;
                } else if (found->second.kind != platform::EntryKind::regular) {
                    item.checked.finding = Finding::unreadable;
                    item.checked.reason = found->second.kind == platform::EntryKind::symlink
                                              ? "a link stands in its place and is not followed"
                                              : "it is not a regular file";
                } else if (copy.kinds == 0) {
                    item.checked.finding = Finding::unreadable;
                    item.checked.reason = "the record holds no digest of it";
                } else {
                    item.to_hash = true;
                }
            }
            pool.submit(std::move(item), 0, [&files, &root, &selection](Item& it) {
                if (it.to_hash) {
                    hash_copy(files, root, selection, it);
                }
            });
        }
        pool.drain();
    }
    std::vector<std::string> added;
    for (const auto& [path, found] : walked.entries) {
        const bool unjudged = found.kind == platform::EntryKind::symlink && !record.names_links;
        if (!found.named && !unjudged &&
            std::find(own_files.begin(), own_files.end(), paths::join(root, path)) == own_files.end()) {
            added.push_back(path);
        }
    }
    std::sort(added.begin(), added.end());
    for (std::string& path : added) {
        Checked c{nullptr, std::move(path), Finding::added, {}, {}};
        count(counts, c.finding);
        report(c);
    }
    return counts;
}

}  // namespace veldro::verify
