#include "util/name_index.h"

#include <algorithm>

#include "util/text.h"

namespace veldro::util {

namespace {

// FNV-1a over the path's bytes, then a final mix so that paths differing
// only in their last bytes spread over the whole range.
std::uint64_t path_digest(std::string_view path) {
    std::uint64_t h = 14695981039346656037ULL;
    for (const char c : path) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ULL;
    }
    h ^= h >> 33U;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33U;
    return h;
}

}  // namespace

bool NameIndex::written_from_other(std::string_view path, std::string_view source) const {
    const auto found = written_.find(path_digest(path));
    return found != written_.end() && found->second != path_digest(source);
}

void NameIndex::note_written(std::string_view path, std::string_view source, std::string_view directory,
                             std::string_view name) {
    written_[path_digest(path)] = path_digest(source);
    if (Listing* listing = find_listing(directory)) {
        listing->folded.insert(to_upper(name));
    }
}

void NameIndex::note_made_directory(std::string_view directory, bool new_names_free) {
    made_.insert(path_digest(directory));
    if (!new_names_free) {
        return;
    }
    if (free_directories_.size() >= max_free_directories) {
        free_directories_.erase(free_directories_.begin());
    }
    free_directories_.emplace_back(directory);
}

bool NameIndex::first_visit(std::string_view directory) {
    const std::uint64_t digest = path_digest(directory);
    return !made_.contains(digest) && visited_.insert(digest).second;
}

bool NameIndex::free_in_made_directory(std::string_view path, std::string_view directory) const {
    // A digest shared by chance makes a free name look taken: it is then
    // looked for, never the other way round.
    const std::uint64_t digest = path_digest(path);
    return std::find(free_directories_.begin(), free_directories_.end(), directory) != free_directories_.end() &&
           !written_.contains(digest) && !made_.contains(digest);
}

NameIndex::Listing* NameIndex::find_listing(std::string_view directory) {
    const auto found = std::find_if(listings_.begin(), listings_.end(),
                                    [directory](const Listing& l) { return l.directory == directory; });
    return found == listings_.end() ? nullptr : &*found;
}

bool NameIndex::holds_folded(const std::string& directory, std::string_view name, const Lister& lister) {
    Listing* listing = find_listing(directory);
    if (listing == nullptr) {
        if (listings_.size() >= max_listings) {
            // The directory used longest ago is the one the walk has left.
            listings_.erase(
                std::min_element(listings_.begin(), listings_.end(),
                                 [](const Listing& a, const Listing& b) { return a.last_use < b.last_use; }));
        }
        Listing fresh;
        fresh.directory = directory;
        lister(directory, [&fresh](std::string_view entry) { fresh.folded.insert(to_upper(entry)); });
        listings_.push_back(std::move(fresh));
        listing = &listings_.back();
    }
    listing->last_use = ++uses_;
    return listing->folded.contains(to_upper(name));
}

}  // namespace veldro::util
