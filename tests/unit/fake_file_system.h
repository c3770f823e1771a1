// An in-memory file system for unit tests of the engine: files, links and
// directories in a map, and a failure injected at any operation (the Nth
// call, or the calls on one path).
#pragma once

#include <array>
#include <functional>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "platform/file_system.h"

namespace veldro::test {

// The operations a failure can be injected at. A copy opens its source,
// reads it, writes the copy and publishes it under its name, each a step.
enum class FsOp : std::uint8_t {
    lookup,
    list,
    copy_whole,
    copy_buffered,
    open,
    read,
    write,
    publish,
    copy_link,
    read_back,
    set_times,
    get_attributes,
    set_attributes,
    make_directory,
    exists,  // a failure: nothing found there
    is_directory,
    identity,
    hold_chain,
    remove,
    count
};

class FakeFileSystem final : public platform::FileSystem {
public:
    struct Node {
        std::string data;
        platform::FindRecord record;
    };
    std::map<std::string, Node> nodes;
    // Runs as a copy opens `path`, before it looks at the open source: a
    // test changes the source there as another process would.
    std::function<void(const std::string& path)> on_open;
    // The read-backs asked to come from the device.
    int device_reads = 0;
    // Copies tell that they read their source without keeping its
    // last-access time (every read here moves it).
    bool reads_unprotected = false;
    // What the clock says.
    std::int64_t now = 1700012345;

    Node& add(const std::string& path, std::string data, platform::EntryKind kind = platform::EntryKind::regular);
    // Fails the `nth` call of `op` (counted from 1), or with nth 0 every
    // call of `op` on `path`.
    void fail(FsOp op, int nth, std::errc error, const std::string& path = {});
    [[nodiscard]] int calls(FsOp op) const { return calls_[static_cast<std::size_t>(op)]; }

    [[nodiscard]] std::error_code lookup(const std::string& path, platform::FindRecord& record) override;
    [[nodiscard]] std::error_code list(const std::string& dir, const std::string& pattern,
                                       platform::SearchDetail detail,
                                       std::unique_ptr<platform::DirectoryListing>& listing) override;
    [[nodiscard]] bool is_directory(const std::string& path) override;
    [[nodiscard]] bool exists(const std::string& path) override;
    [[nodiscard]] std::optional<platform::FileIdentity> identity(const std::string& path) override;
    [[nodiscard]] std::error_code copy_whole(const std::string& source, const std::string& destination,
                                             bool replace_protected, platform::CopyFeed* feed) override;
    // Takes every copy of a group and makes each as copy_whole does.
    void copy_whole_group(platform::GroupedCopy* copies, std::size_t count, bool replace_protected,
                          platform::TakeMany take, platform::CopyReadBack* partner) override;
    [[nodiscard]] std::error_code copy_buffered(const std::string& source, const std::string& destination,
                                                bool replace_protected, platform::CopyFeed* feed) override;
    [[nodiscard]] std::error_code copy_link(const std::string& source, const std::string& destination) override;
    [[nodiscard]] std::error_code open_read_back(const std::string& path, platform::ReadBackFile& file,
                                                 bool from_device) override;
    [[nodiscard]] std::error_code set_times(const std::string& path, const platform::FileTimeSet& times,
                                            bool& creation_set) override;
    [[nodiscard]] std::error_code get_attributes(const std::string& path, std::uint32_t& attributes) override;
    [[nodiscard]] std::error_code set_attributes(const std::string& path, std::uint32_t attributes) override;
    [[nodiscard]] std::error_code make_directory(const std::string& path) override;
    [[nodiscard]] bool hold_chain(const std::string& root, const std::string& dir, platform::HeldChain& held) override;
    [[nodiscard]] std::error_code remove(const std::string& path) override;
    [[nodiscard]] std::int64_t now_seconds() override { return now; }

private:
    struct Failure {
        FsOp op;
        int nth;
        std::error_code error;
        std::string path;
    };
    struct Reading {
        FakeFileSystem* files = nullptr;
        std::string data;
        std::size_t at = 0;
    };
    std::error_code hit(FsOp op, const std::string& path);
    // `op` on the node at `path`: the injected failure, or no such file, or
    // `act` done on it.
    std::error_code on_node(FsOp op, const std::string& path, const std::function<void(Node&)>& act);
    std::error_code copy(FsOp way, const std::string& source, const std::string& destination, bool replace_protected,
                         platform::CopyFeed* feed);
    static std::int64_t read_step(void* source, void* buffer, std::size_t size);

    std::vector<Failure> failures_;
    std::array<int, static_cast<std::size_t>(FsOp::count)> calls_{};
    Reading reading_;
};

}  // namespace veldro::test
