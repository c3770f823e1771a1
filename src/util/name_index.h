// What a run knows about the destination directories it writes into: the
// paths it wrote (so that a later file never replaces an earlier copy of
// the same run), the directories it made (whose other names need not be
// looked for), and for a few directories at a time every name they hold,
// folded to upper case (so that a name clash that ignores case is found
// without reading the directory again for every file).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace veldro::util {

class NameIndex {
public:
    // Gives every name a directory holds to `add`, one call per name.
    using Lister = std::function<void(const std::string& directory, const std::function<void(std::string_view)>& add)>;

    // True when this run wrote the path from a source other than `source`
    // (the same source met again, under a second type pattern, is no
    // clash). Paths are kept as 64-bit digests, a few bytes per copy made:
    // a collision can only rename a copy that did not need it, never
    // replace one.
    [[nodiscard]] bool written_from_other(std::string_view path, std::string_view source) const;

    // A file the run wrote from `source`, in `directory` (as given to
    // holds_folded) under `name`.
    void note_written(std::string_view path, std::string_view source, std::string_view directory,
                      std::string_view name);

    // A directory the run made, given without a trailing separator;
    // `new_names_free` when its names tell case apart, so that a name the
    // run did not put there is free in it.
    void note_made_directory(std::string_view directory, bool new_names_free);

    // True when nothing stands at `path` in `directory` (as given to
    // note_made_directory) but what another process may have put there:
    // one of the last few directories made with new names free, and
    // neither a file written nor a directory made at the path by the run.
    [[nodiscard]] bool free_in_made_directory(std::string_view path, std::string_view directory) const;

    static constexpr std::size_t max_free_directories = 8;

    // True the first time an existing directory is met (given without a
    // trailing separator): never for one the run made, never twice.
    bool first_visit(std::string_view directory);

    // True when the directory holds an entry whose name equals `name`
    // ignoring the case of ASCII letters. A directory not indexed yet is
    // listed once through `lister`; only the few most recently used
    // directories stay indexed, so that a walk through a large tree keeps
    // the listing of the directory it writes into, and flattening, which
    // writes into one directory, keeps that one.
    bool holds_folded(const std::string& directory, std::string_view name, const Lister& lister);

    // The number of directories indexed now.
    [[nodiscard]] std::size_t indexed_directories() const { return listings_.size(); }

    static constexpr std::size_t max_listings = 4;

private:
    struct Listing {
        std::string directory;
        std::unordered_set<std::string> folded;
        std::uint64_t last_use = 0;
    };
    Listing* find_listing(std::string_view directory);

    std::unordered_map<std::uint64_t, std::uint64_t> written_;  // path -> source, as digests
    std::unordered_set<std::uint64_t> made_;                    // directories made, as digests
    std::unordered_set<std::uint64_t> visited_;                 // existing directories met, as digests
    std::vector<std::string> free_directories_;                 // the most recent last
    std::vector<Listing> listings_;
    std::uint64_t uses_ = 0;
};

}  // namespace veldro::util
