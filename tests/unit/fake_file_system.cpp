#include "fake_file_system.h"

#include <cstring>
#include <functional>
#include <memory>
#include <optional>

namespace veldro::test {

namespace {

std::error_code error_of(std::errc e) {
    return std::make_error_code(e);
}

// Reading a file moves its last-access time, as a system without the
// no-access-time open does.
void touched(FakeFileSystem::Node& node) {
    ++node.record.times.last_access.ticks;
}

class FakeListing final : public platform::DirectoryListing {
public:
    std::vector<platform::FindRecord> entries;
    std::size_t at = 0;
    bool next(platform::FindRecord& record) override {
        if (at == entries.size()) {
            return false;
        }
        record = entries[at++];
        return true;
    }
};

}  // namespace

FakeFileSystem::Node& FakeFileSystem::add(const std::string& path, std::string data, platform::EntryKind kind) {
    Node& node = nodes[path];
    node.record.size = kind == platform::EntryKind::regular ? data.size() : 0;
    node.data = std::move(data);
    node.record.kind = kind;
    node.record.name = path.substr(path.rfind('/') + 1);
    node.record.attributes = kind == platform::EntryKind::directory ? platform::attr_directory : platform::attr_normal;
    node.record.times = {{1000, 0}, {2000, 0}, {3000, 0}};
    return node;
}

void FakeFileSystem::fail(FsOp op, int nth, std::errc error, const std::string& path) {
    failures_.push_back({op, nth, error_of(error), path});
}

std::error_code FakeFileSystem::hit(FsOp op, const std::string& path) {
    const int call = ++calls_[static_cast<std::size_t>(op)];
    for (const Failure& f : failures_) {
        if (f.op == op && (f.nth == call || (f.nth == 0 && f.path == path))) {
            return f.error;
        }
    }
    return {};
}

std::error_code FakeFileSystem::lookup(const std::string& path, platform::FindRecord& record) {
    return on_node(FsOp::lookup, path, [&](Node& n) { record = n.record; });
}

std::error_code FakeFileSystem::list(const std::string& dir, const std::string& pattern, platform::SearchDetail,
                                     std::unique_ptr<platform::DirectoryListing>& listing) {
    if (const std::error_code e = hit(FsOp::list, dir)) {
        return e;
    }
    if (!is_directory(dir)) {
        return error_of(std::errc::not_a_directory);
    }
    auto entries = std::make_unique<FakeListing>();
    const std::string prefix = dir + '/';
    for (const auto& [path, node] : nodes) {
        if (path.starts_with(prefix) && path.find('/', prefix.size()) == std::string::npos &&
            platform::long_name_matches(pattern, node.record.name)) {
            entries->entries.push_back(node.record);
        }
    }
    listing = std::move(entries);
    return {};
}

bool FakeFileSystem::is_directory(const std::string& path) {
    const auto it = nodes.find(path);
    return !hit(FsOp::is_directory, path) && it != nodes.end() &&
           it->second.record.kind == platform::EntryKind::directory;
}

bool FakeFileSystem::exists(const std::string& path) {
    return !hit(FsOp::exists, path) && nodes.contains(path);
}

// A node's identity is its path (links are not followed here).
std::optional<platform::FileIdentity> FakeFileSystem::identity(const std::string& path) {
    if (hit(FsOp::identity, path) || !nodes.contains(path)) {
        return std::nullopt;
    }
    return platform::FileIdentity{1, std::hash<std::string>{}(path)};
}

// Every directory of `dir` (which ends in a separator) below `root` must be
// a real directory.
bool FakeFileSystem::hold_chain(const std::string& root, const std::string& dir, platform::HeldChain& held) {
    held.reset();
    if (hit(FsOp::hold_chain, dir)) {
        return false;
    }
    const bool below = !root.empty() && dir.starts_with(root);
    for (std::size_t at = dir.find('/', root.size() + 1); below && at != std::string::npos;
         at = dir.find('/', at + 1)) {
        const auto it = nodes.find(dir.substr(0, at));
        if (it == nodes.end() || it->second.record.kind != platform::EntryKind::directory) {
            return false;
        }
    }
    held = std::make_shared<int>(0);
    return true;
}

std::error_code FakeFileSystem::remove(const std::string& path) {
    if (const std::error_code e = hit(FsOp::remove, path)) {
        return e;
    }
    return nodes.erase(path) == 1 ? std::error_code{} : error_of(std::errc::no_such_file_or_directory);
}

std::error_code FakeFileSystem::copy(FsOp way, const std::string& source, const std::string& destination,
                                     bool replace_protected, platform::CopyFeed* feed) {
    for (const FsOp step : {way, FsOp::open}) {
        if (const std::error_code e = hit(step, source)) {
            return e;
        }
    }
    if (on_open) {
        on_open(source);
    }
    const auto from = nodes.find(source);
    if (from == nodes.end() || from->second.record.kind != platform::EntryKind::regular) {
        return error_of(from == nodes.end() ? std::errc::no_such_file_or_directory : std::errc::invalid_argument);
    }
    Node copy = from->second;
    if (feed != nullptr) {
        feed->opened_known = true;
        feed->opened_size = copy.record.size;
        feed->opened_times = copy.record.times;
        feed->read_known = true;
        feed->read_size = copy.data.size();
        feed->access_unprotected = reads_unprotected;
    }
    touched(from->second);
    if (const std::error_code e = hit(FsOp::read, source)) {
        return e;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(copy.data.data());  // NOLINT
    if (feed != nullptr && feed->take != nullptr) {
        feed->take(feed->context, bytes, copy.data.size());
    }
    if (const std::error_code e = hit(FsOp::write, destination)) {
        return e;
    }
    const auto there = nodes.find(destination);
    if (there != nodes.end() && (there->second.record.attributes & platform::attr_readonly) != 0 &&
        !replace_protected) {
        return error_of(std::errc::permission_denied);
    }
    if (const std::error_code e = hit(FsOp::publish, destination)) {
        return e;
    }
    if (feed != nullptr && feed->times != nullptr) {
        copy.record.times.last_access = feed->times->last_access;
        copy.record.times.last_write = feed->times->last_write;
    }
    if (feed != nullptr && feed->writable) {
        copy.record.attributes &= ~platform::attr_readonly;
    }
    if (feed != nullptr && feed->take_copy != nullptr && feed->read_back != nullptr) {
        feed->take_copy(feed->copy_context, bytes, copy.data.size());
        feed->copy_read_back = true;
    }
    nodes[destination] = std::move(copy);
    return {};
}

std::error_code FakeFileSystem::copy_whole(const std::string& source, const std::string& destination,
                                           bool replace_protected, platform::CopyFeed* feed) {
    return copy(FsOp::copy_whole, source, destination, replace_protected, feed);
}

void FakeFileSystem::copy_whole_group(platform::GroupedCopy* copies, std::size_t count, bool replace_protected,
                                      platform::TakeMany /*take*/, platform::CopyReadBack* /*partner*/) {
    for (std::size_t i = 0; i < count; ++i) {
        copies[i].grouped = true;
        copies[i].error =
            copy(FsOp::copy_whole, *copies[i].source, *copies[i].destination, replace_protected, copies[i].feed);
    }
}

std::error_code FakeFileSystem::copy_buffered(const std::string& source, const std::string& destination,
                                              bool replace_protected, platform::CopyFeed* feed) {
    return copy(FsOp::copy_buffered, source, destination, replace_protected, feed);
}

std::error_code FakeFileSystem::copy_link(const std::string& source, const std::string& destination) {
    return on_node(FsOp::copy_link, source, [&](Node& n) {
        touched(n);
        nodes[destination] = n;
    });
}

std::int64_t FakeFileSystem::read_step(void* source, void* buffer, std::size_t size) {
    auto& r = *static_cast<Reading*>(source);
    if (r.files->hit(FsOp::read, {})) {
        return -1;
    }
    const std::size_t n = std::min(size, r.data.size() - r.at);
    std::memcpy(buffer, r.data.data() + r.at, n);
    r.at += n;
    return static_cast<std::int64_t>(n);
}

std::error_code FakeFileSystem::open_read_back(const std::string& path, platform::ReadBackFile& file,
                                               bool from_device) {
    device_reads += from_device ? 1 : 0;
    file.step = &read_step;
    file.source = &reading_;
    return on_node(FsOp::read_back, path, [&](Node& n) { reading_ = Reading{this, n.data, 0}; });
}

std::error_code FakeFileSystem::on_node(FsOp op, const std::string& path, const std::function<void(Node&)>& act) {
    if (const std::error_code e = hit(op, path)) {
        return e;
    }
    const auto it = nodes.find(path);
    if (it == nodes.end()) {
        return error_of(std::errc::no_such_file_or_directory);
    }
    act(it->second);
    return {};
}

std::error_code FakeFileSystem::set_times(const std::string& path, const platform::FileTimeSet& times,
                                          bool& creation_set) {
    creation_set = false;
    return on_node(FsOp::set_times, path, [&](Node& n) {
        n.record.times = times;
        creation_set = true;
    });
}

std::error_code FakeFileSystem::get_attributes(const std::string& path, std::uint32_t& attributes) {
    return on_node(FsOp::get_attributes, path, [&](Node& n) { attributes = n.record.attributes; });
}

std::error_code FakeFileSystem::set_attributes(const std::string& path, std::uint32_t attributes) {
    return on_node(FsOp::set_attributes, path, [&](Node& n) { n.record.attributes = attributes; });
}

std::error_code FakeFileSystem::make_directory(const std::string& path) {
    if (const std::error_code e = hit(FsOp::make_directory, path)) {
        return e;
    }
    if (nodes.contains(path)) {
        return error_of(std::errc::file_exists);
    }
    const std::string parent = path.substr(0, path.rfind('/'));
    if (!parent.empty() && !nodes.contains(parent)) {
        return error_of(std::errc::no_such_file_or_directory);
    }
    if (!parent.empty() && nodes[parent].record.kind != platform::EntryKind::directory) {
        return error_of(std::errc::not_a_directory);
    }
    add(path, {}, platform::EntryKind::directory);
    return {};
}

}  // namespace veldro::test
