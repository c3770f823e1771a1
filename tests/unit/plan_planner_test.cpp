// The planner against the in-memory file system: what it decides for a
// file, the destination it gives it and the events its record will write,
// with a failure injected at each look it takes.
#include <gtest/gtest.h>

#include <string>

#include "fake_file_system.h"
#include "plan/pipeline.h"

namespace veldro::plan {
namespace {

using test::FakeFileSystem;
using test::FsOp;
using Given = void (*)(OwnedRun&, FakeFileSystem&);
using enum Decision;

struct Row {
    const char* name;
    const char* file;  // below the source root /s
    Given given;       // options, and what stands in the destination /d
    FsOp op;           // the call failed with EIO (count: none)
    int nth;
    Decision decision;
    const char* destination;
    const char* events;  // "kind path" each, '|' between
    bool ready;          // the destination directory is in place
};

void older_copy(OwnedRun&, FakeFileSystem& f) {
    f.add("/d/a.txt", "ab").record.times.last_write.ticks -= 1;
}
void newer_copy(OwnedRun&, FakeFileSystem& f) {
    f.add("/d/a.txt", "ab").record.times.last_write.ticks += 1;
}
void none(OwnedRun&, FakeFileSystem&) {}

const Row rows[] = {
    {"new copy", "a.txt", none, FsOp::count, 0, selected, "/d/a.txt", "", true},
    {"size criteria", "a.txt",
     [](OwnedRun& s, FakeFileSystem&) { s.selection.greater_select = true, s.selection.greater_size = 9; }, FsOp::count,
     0, skipped, "", "", false},
    {"older copy", "a.txt", older_copy, FsOp::count, 0, selected, "/d/a.txt", "", true},
    {"newer copy", "a.txt", newer_copy, FsOp::count, 0, skipped, "/d/a.txt", "", true},
    {"newer copy, -A", "a.txt", [](OwnedRun& s, FakeFileSystem& f) { newer_copy(s, f), s.selection.copy_all = 1; },
     FsOp::count, 0, selected, "/d/a.txt", "", true},
    {"equal copy", "a.txt", [](OwnedRun&, FakeFileSystem& f) { f.add("/d/a.txt", "ab"); }, FsOp::count, 0, skipped,
     "/d/a.txt", "", true},
    {"-e, no copy", "a.txt", [](OwnedRun& s, FakeFileSystem&) { s.selection.exist_only = 1; }, FsOp::count, 0, skipped,
     "/d/a.txt", "", true},
    {"-e, older copy", "a.txt", [](OwnedRun& s, FakeFileSystem& f) { older_copy(s, f), s.selection.exist_only = 1; },
     FsOp::count, 0, selected, "/d/a.txt", "", true},
    {"list only", "x/a.txt", [](OwnedRun& s, FakeFileSystem&) { s.copy.list_only = ListOnly::names; }, FsOp::count, 0,
     listed_only, "/d/x/a.txt", "", true},
    {"flat duplicate", "x/a.txt",
     [](OwnedRun& s, FakeFileSystem& f) {
         s.copy.flatten = s.copy.no_dupe = 1;
         older_copy(s, f), f.add("/d/a[0000].txt", "");
     },
     FsOp::count, 0, selected, "/d/a[0001].txt", "renamed /d/a.txt", true},
    {"tilde", "AB~1.TXT",
     [](OwnedRun& s, FakeFileSystem& f) {
         s.copy.check_tilde = 1;
         f.add("/d/AB~1.TXT", ""), f.add("/d/AB~1.TXT.D[12345]", "");
     },
     FsOp::count, 0, selected, "/d/AB~1.TXT.D[12345].[01_000]", "tilde /d/AB~1.TXT>/d/AB~1.TXT.D[12345].[01_000]",
     true},
    {"directory made", "x/a.txt", none, FsOp::count, 0, selected, "/d/x/a.txt", "made /d/x", true},
    {"-M, not dated", "x/a.txt", [](OwnedRun& s, FakeFileSystem&) { s.paths.maintain_dir_dates = 1; }, FsOp::set_times,
     1, selected, "/d/x/a.txt", "made /d/x|undated /d/x", true},
    {"link in the chain", "x/y/a.txt",
     [](OwnedRun&, FakeFileSystem& f) { f.add("/d/x", "/e", platform::EntryKind::symlink); }, FsOp::count, 0, selected,
     "/d/x/y/a.txt", "", false},
    {"file in the chain", "x/y/a.txt", [](OwnedRun&, FakeFileSystem& f) { f.add("/d/x", ""); }, FsOp::count, 0,
     selected, "/d/x/y/a.txt", "", false},
    {"directory not made", "x/a.txt", none, FsOp::make_directory, 1, selected, "/d/x/a.txt", "", false},
    {"leftover of an ended run", "a.txt",
     [](OwnedRun&, FakeFileSystem& f) { f.add("/d/.veldro-4000000000-1.tmp", ""); }, FsOp::count, 0, selected,
     "/d/a.txt", "removed /d/.veldro-4000000000-1.tmp", true},
    {"leftover not removed", "a.txt", [](OwnedRun&, FakeFileSystem& f) { f.add("/d/.veldro-4000000000-1.tmp", ""); },
     FsOp::remove, 1, selected, "/d/a.txt", "not-removed /d/.veldro-4000000000-1.tmp", true},
    // Each look the planner takes, failed.
    {"look at the root", "x/a.txt", none, FsOp::lookup, 1, selected, "/d/x/a.txt", "made /d/x", true},
    {"look before making", "x/a.txt", none, FsOp::lookup, 2, selected, "/d/x/a.txt", "made /d/x", true},
    {"look at the made", "x/a.txt", none, FsOp::lookup, 3, selected, "/d/x/a.txt", "made /d/x", false},
    {"last look at the chain", "x/a.txt", none, FsOp::lookup, 4, selected, "/d/x/a.txt", "made /d/x", false},
    {"look at the copy", "a.txt", newer_copy, FsOp::lookup, 3, selected, "/d/a.txt", "", true},
    {"hold the chain", "a.txt", none, FsOp::hold_chain, 1, selected, "/d/a.txt", "", false},
    {"look for the leftovers", "a.txt", none, FsOp::list, 1, selected, "/d/a.txt", "", true},
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
        SCOPED_TRACE(r.name);
        OwnedRun s;
        FakeFileSystem f;
        s.run.file_system = &f;
        s.paths.dest_path = "/d";
        s.engine.current_root_length = 2;
        f.add("/d", "", platform::EntryKind::directory);
        const std::string file(r.file);
        const std::string dir = "/s/" + file.substr(0, file.rfind('/') + 1);
        f.add("/s/" + file, "ab");
        r.given(s, f);
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
