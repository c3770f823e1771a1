// The planner against the in-memory file system: what it decides for a
// file, the destination it gives it and the events its record will write,
// with a failure injected at each look it takes.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "fake_file_system.h"
#include "plan/pipeline.h"

namespace veldro::plan {
namespace {

using test::FakeFileSystem;
using test::FsOp;
using enum Decision;

struct Row {
    const char* given;  // options, and what stands in the destination /d (see give)
    const char* file;   // below the source root /s
    FsOp op;            // the call failed with EIO (count: none)
    int nth;
    Decision decision;
    const char* destination;
    const char* events;  // "kind path" each, '|' between
    bool ready;          // the destination directory is in place
};

void give(std::string_view given, OwnedRun& s, FakeFileSystem& f) {
    const auto has = [given](std::string_view word) { return given.find(word) != std::string_view::npos; };
    if (has("older") || has("newer") || has("equal")) {
        std::uint64_t& ticks = f.add("/d/a.txt", "ab").record.times.last_write.ticks;
        ticks = has("older") ? ticks - 1 : has("newer") ? ticks + 1 : ticks;
    }
    s.selection.copy_all = has("-A");
    s.selection.exist_only = has("-e");
    s.paths.maintain_dir_dates = has("-M");
    s.selection.greater_select = has("-G");
    s.selection.greater_size = 9;
    s.copy.list_only = has("-n") ? ListOnly::names : ListOnly::off;
    s.copy.flatten = s.copy.no_dupe = has("flat");
    s.copy.check_tilde = has("tilde");
    for (const char* name : {"/d/a[0000].txt", "/d/AB~1.TXT", "/d/AB~1.TXT.D[12345]", "/d/.veldro-4000000000-1.tmp"}) {
        if (has(name[3] == 'a' ? "flat" : name[3] == 'A' ? "tilde" : "leftover")) {
            f.add(name, "");
        }
    }
    if (has("link") || has("file in")) {
        f.add("/d/x", "/e", has("link") ? platform::EntryKind::symlink : platform::EntryKind::regular);
    }
}

const Row rows[] = {
    {"new", "a.txt", FsOp::count, 0, selected, "/d/a.txt", "", true},
    {"-G", "a.txt", FsOp::count, 0, skipped, "", "", false},
    {"older", "a.txt", FsOp::count, 0, selected, "/d/a.txt", "", true},
    {"newer", "a.txt", FsOp::count, 0, skipped, "/d/a.txt", "", true},
    {"newer -A", "a.txt", FsOp::count, 0, selected, "/d/a.txt", "", true},
    {"equal", "a.txt", FsOp::count, 0, skipped, "/d/a.txt", "", true},
    {"-e", "a.txt", FsOp::count, 0, skipped, "/d/a.txt", "", true},
    {"-e older", "a.txt", FsOp::count, 0, selected, "/d/a.txt", "", true},
    {"-n", "x/a.txt", FsOp::count, 0, listed_only, "/d/x/a.txt", "", true},
    {"flat older", "x/a.txt", FsOp::count, 0, selected, "/d/a[0001].txt", "renamed /d/a.txt", true},
    {"tilde", "AB~1.TXT", FsOp::count, 0, selected, "/d/AB~1.TXT.D[12345].[01_000]",
     "tilde /d/AB~1.TXT>/d/AB~1.TXT.D[12345].[01_000]", true},
    {"made", "x/a.txt", FsOp::count, 0, selected, "/d/x/a.txt", "made /d/x", true},
    {"-M", "x/a.txt", FsOp::set_times, 1, selected, "/d/x/a.txt", "made /d/x|undated /d/x", true},
    {"link", "x/y/a.txt", FsOp::count, 0, selected, "/d/x/y/a.txt", "", false},
    {"file in the chain", "x/y/a.txt", FsOp::count, 0, selected, "/d/x/y/a.txt", "", false},
    {"not made", "x/a.txt", FsOp::make_directory, 1, selected, "/d/x/a.txt", "", false},
    {"leftover", "a.txt", FsOp::count, 0, selected, "/d/a.txt", "removed /d/.veldro-4000000000-1.tmp", true},
    {"leftover", "a.txt", FsOp::remove, 1, selected, "/d/a.txt", "not-removed /d/.veldro-4000000000-1.tmp", true},
    // Each look the planner takes, failed: the root, the directory before
    // and after it is made, the chain, the copy; holding and sweeping.
    {"made", "x/a.txt", FsOp::lookup, 1, selected, "/d/x/a.txt", "made /d/x", true},
    {"made", "x/a.txt", FsOp::lookup, 2, selected, "/d/x/a.txt", "made /d/x", true},
    {"made", "x/a.txt", FsOp::lookup, 3, selected, "/d/x/a.txt", "made /d/x", false},
    {"made", "x/a.txt", FsOp::lookup, 4, selected, "/d/x/a.txt", "made /d/x", false},
    {"newer", "a.txt", FsOp::lookup, 3, selected, "/d/a.txt", "", false},  // fails, never copies over it
    {"new", "a.txt", FsOp::hold_chain, 1, selected, "/d/a.txt", "", false},
    {"leftover", "a.txt", FsOp::list, 1, selected, "/d/a.txt", "", true},
};

std::string shown(const PlanEvents& events) {
    static constexpr const char* kinds[] = {"made", "renamed", "tilde", "undated", "removed", "kept", "not-removed"};
    std::string text;
    for (std::size_t i = 0; i < events.size(); ++i) {
        text.append(i == 0 ? "" : "|").append(kinds[static_cast<int>(events[i].kind)]).append(" ");
        text.append(events[i].path).append(events[i].to.empty() ? "" : ">").append(events[i].to);
    }
    return text;
}

TEST(Planner, DecidesEachFileThroughTheFileSystem) {
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.given << ' ' << r.file << " op " << static_cast<int>(r.op) << '/'
                                        << r.nth);
        OwnedRun s;
        FakeFileSystem f;
        s.run.file_system = &f;
        s.paths.dest_path = "/d";
        s.engine.current_root_length = 2;
        f.add("/d", "", platform::EntryKind::directory);
        const std::string file(r.file);
        const std::string dir = "/s/" + file.substr(0, file.rfind('/') + 1);
        f.add("/s/" + file, "ab");
        give(r.given, s, f);
        if (r.op != FsOp::count) {
            f.fail(r.op, r.nth, std::errc::io_error);
        }
        FileOutcome out;
        begin_outcome(s, dir, file.substr(file.rfind('/') + 1), f.nodes["/s/" + file].record, out);
        select_file(s, out);
        if (out.decision == selected) {
            place_file(s, dir, out);
        }
        if (out.decision == selected) {
            prepare_copy(s, out);
        }
        EXPECT_EQ(out.decision, r.decision);
        EXPECT_EQ(out.destination, r.destination);
        EXPECT_EQ(shown(out.events), r.events);
        EXPECT_EQ(out.directory_ready, r.ready);
    }
}

struct NoneInFlight final : ListedCopiesInFlight {
    void settle_if_taken(const std::string&) override {}
    void settle_if_read(const std::string&) override {}
    void settle_if_below(const std::string&) override {}
};

TEST(Planner, DecidesEachListedFile) {
    const struct {
        const char* source;
        bool test_mode;
        Decision decision;
    } listed[] = {{"/s/none.txt", false, not_located},
                  {"/s/x", false, directory},
                  {"/s/a.txt", true, present},
                  {"/s/a.txt", false, selected}};
    for (const auto& l : listed) {
        SCOPED_TRACE(l.source);
        OwnedRun s;
        FakeFileSystem f;
        s.run.file_system = &f;
        s.paths.dest_path = "/d";
        s.paths.test_mode = l.test_mode;
        f.add("/d", "", platform::EntryKind::directory);
        f.add("/s/x", "", platform::EntryKind::directory);
        f.add("/s/a.txt", "ab");
        FileOutcome out;
        out.source = l.source;
        NoneInFlight none_in_flight;
        place_listed_file(s, none_in_flight, false, out);
        EXPECT_EQ(out.decision, l.decision);
        EXPECT_EQ(f.is_directory("/d/s"), l.decision == selected || l.decision == present);
    }
}

}  // namespace
}  // namespace veldro::plan
