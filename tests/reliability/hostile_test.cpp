// hostile_test.cpp: state files, work units and result files as a damaged disk, another program or a careless user may leave them; each case documents what the coordinator does with it, and none may crash it, lose work or bring a wrong line.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "import.h"
#include "kernel.h"
#include "platform.h"
#include "range.h"
#include "results.h"
#include "run_support.h"
#include "state_file.h"
#include "state_grammar.h"
#include "support.h"
#include "workers.h"

namespace fs = std::filesystem;

// The directory search, wrapped at link time: when `vanish_next` is set,
// the file it finds is deleted before the caller can read it, as when
// another copy of the client in the same folder takes the unit first.
struct VanishingSearch {
  bool vanish_next = false;
  int vanished = 0;
};
static VanishingSearch vanishing;

extern "C" bool __real__Z15file_find_firstPKcS0_Pcj(const char *dir, const char *pattern,
                                                    char *name, uint32_t size);
extern "C" bool __wrap__Z15file_find_firstPKcS0_Pcj(const char *dir, const char *pattern,
                                                    char *name, uint32_t size) {
  const bool found = __real__Z15file_find_firstPKcS0_Pcj(dir, pattern, name, size);
  if (found && vanishing.vanish_next) {
    vanishing.vanish_next = false;
    ++vanishing.vanished;
    fs::remove(fs::path(dir) / name);
  }
  return found;
}

namespace {

constexpr uint64_t million = 1000000;  // a where whose head ends at 199,999

const std::string used_up_main =
    "[Main]\r\nwhere=00000000000F4240\r\nsrt_pos=0000000000000000\r\n"
    "cur_pos=0000000000000000\r\nend_pos=0000000000000000\r\n";

void write_used_up_state() { write_file("Quarn.ini", used_up_main); }

std::string unit_text(uint64_t where, uint64_t srt_pos, uint64_t end_pos) {
  return "[Main]\r\nWhere=" + hex16(where) + "\r\nsrt_pos=" + hex16(srt_pos) +
         "\r\nend_pos=" + hex16(end_pos) + "\r\n";
}

// The state file as the client itself would have written it.
bool state_is_whole() {
  std::vector<StateSection> sections;
  std::string why;
  const bool ok = parse_state(read_file("Quarn.ini"), &sections, &why);
  EXPECT_TRUE(ok) << why;
  return ok;
}

// Every term of [from, to) at position 1,000,000 reported once, rightly.
void expect_covered(uint64_t from, uint64_t to) {
  const Cover c = inspect_results(million, from);
  EXPECT_TRUE(c.faults.empty()) << c.faults.front();
  EXPECT_EQ(c.reached, to);
  EXPECT_EQ(c.repeats, 0);
}

class Hostile : public CoordinatorTest {
 protected:
  void TearDown() override {
    vanishing = VanishingSearch{};
    CoordinatorTest::TearDown();
  }
};

}  // namespace

TEST_F(Hostile, AUnitTakenByAnotherCopyBetweenSearchAndReadIsPassedOver) {
  write_used_up_state();
  write_unit("Range1.ini", million, 0, 1000);
  write_unit("Range2.ini", million, 1000, 2000);
  ASSERT_TRUE(load_main_state(0));
  vanishing.vanish_next = true;
  ASSERT_EQ(import_work_unit(), ImportResult::imported);
  EXPECT_EQ(vanishing.vanished, 1);
  EXPECT_EQ(range.srt_pos, 1000u);  // the next unit, taken whole
  EXPECT_EQ(range.end_pos, 2000u);
  EXPECT_FALSE(fs::exists("Range2.ini"));
  EXPECT_FALSE(fs::exists("Range1.ini.bad"));

  // The last one gone as well: simply no work unit.
  write_unit("Range3.ini", million, 2000, 3000);
  range.cur_pos = range.end_pos;
  vanishing.vanish_next = true;
  EXPECT_EQ(import_work_unit(), ImportResult::none_found);
  EXPECT_STREQ(coordinator.error_text, "Error: Range.ini not found");
  EXPECT_EQ(range.srt_pos, 1000u);
}

// --- huge lines, no line end, NUL bytes ---

TEST_F(Hostile, HugeLinesInTheStateFileAreKeptAndPassedOver) {
  // Megabytes of junk before the first section and inside [Main]: read
  // past, and kept as they are by every rewrite.
  const std::string junk(4 << 20, 'j');
  std::string comment(1 << 20, 'c');
  comment[0] = ';';
  write_file("Quarn.ini", junk + "\r\n" + used_up_main + comment + "\r\n");
  write_unit("Range1.ini", million, 0, 5000);
  EXPECT_EQ(run_to_end(), "Error: Range.ini not found");
  expect_covered(0, 5000);
  const std::string now = read_file("Quarn.ini");
  EXPECT_EQ(now.rfind(junk + "\r\n[Main]\r\n", 0), 0u);
  EXPECT_NE(now.find("\r\n" + comment + "\r\n"), std::string::npos);
}

TEST_F(Hostile, AHugeValueIsRefusedAsDamageNotCutToAPosition) {
  // Cut to 16 digits it would read as a plausible position.
  write_file("Quarn.ini", "[Main]\r\nwhere=00000000000F4240\r\nsrt_pos=0000000000000000\r\n"
                          "cur_pos=" + std::string(1 << 20, '0') + "\r\nend_pos=0000000000000BB8\r\n");
  EXPECT_FALSE(run_once().empty());
  EXPECT_FALSE(retirements.started);
  EXPECT_STREQ(coordinator.error_text, "Error: Quarn.ini holds a damaged [Main] cur_pos");

  write_used_up_state();
  write_file("Range1.ini", "[Main]\r\nWhere=" + std::string(100000, '0') + "F4240\r\n"
                           "srt_pos=0000000000000000\r\nend_pos=0000000000001000\r\n");
  write_unit("Range2.ini", million, 0, 1000);
  ASSERT_EQ(run_to_end(), "Error: Range.ini not found");
  EXPECT_TRUE(fs::exists("Range1.ini.bad"));
  expect_covered(0, 1000);
}

TEST_F(Hostile, FilesWithoutAFinalLineEndReadAndAreWrittenWhole) {
  std::string state = used_up_main;
  state.resize(state.size() - 2);
  write_file("Quarn.ini", state);
  std::string unit = unit_text(million, 0, 3000);
  unit.resize(unit.size() - 2);
  write_file("Range1.ini", unit);
  write_file("Range2.ini", "[Main]\nWhere=00000000000F4240\nsrt_pos=0000000000000BB8\n"
                           "end_pos=0000000000001770");  // LF only, and no end
  EXPECT_EQ(run_to_end(), "Error: Range.ini not found");
  expect_covered(0, 6000);
  state_is_whole();
}

TEST_F(Hostile, NulBytesEndAValueOrALineAndAreNeverTakenForDigits) {
  // Inside a value the NUL ends it: sixteen digits become eight, refused.
  write_file("Quarn.ini", std::string("[Main]\r\nwhere=00000000\0" "000F4240\r\n", 34) +
                              "srt_pos=0000000000000000\r\ncur_pos=0000000000000000\r\n"
                              "end_pos=0000000000000000\r\n");
  run_once();
  EXPECT_FALSE(retirements.started);
  EXPECT_STREQ(coordinator.error_text, "Error: Quarn.ini holds a damaged [Main] where");

  // Lines of NULs (what some file systems leave after a power cut) between
  // the keys are passed over; a unit made of nothing but NULs is set aside.
  write_file("Quarn.ini", std::string(512, '\0') + "\r\n" + used_up_main);
  write_file("Range1.ini", std::string(4096, '\0'));
  write_file("Range2.ini", unit_text(million, 0, 1000).insert(8, std::string(300, '\0') + "\r\n"));
  EXPECT_EQ(run_to_end(), "Error: Range.ini not found");
  EXPECT_TRUE(fs::exists("Range1.ini.bad"));
  EXPECT_FALSE(fs::exists("Range2.ini"));
  expect_covered(0, 1000);
  EXPECT_EQ(read_file("Quarn.ini").rfind(std::string(512, '\0') + "\r\n[Main]\r\n", 0), 0u);
}

// --- other encodings ---

TEST_F(Hostile, UnitsInOtherEncodingsAreSetAsideWithTheReason) {
  // As a Windows editor saves them: UTF-16 with its byte-order mark, and
  // 8-bit text with Latin-1 digits that only look like digits.
  const std::string text = unit_text(million, 0, 1000);
  std::string utf16 = "\xFF\xFE";
  for (char c : text) {
    utf16 += c;
    utf16 += '\0';
  }
  write_used_up_state();
  write_file("Range1.ini", utf16);
  write_file("Range2.ini", "[Main]\r\nWhere=00000000000F424\xB0\r\nsrt_pos=0000000000000000\r\n"
                           "end_pos=0000000000001000\r\n");
  write_unit("Range3.ini", million, 0, 1000);
  std::vector<std::string> shown;
  static std::vector<std::string> *sink;
  sink = &shown;
  front_end.message = [](const char *m) { sink->push_back(m); };
  ASSERT_EQ(run_once(1), "Error: Range.ini not found");
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0], "Error: Range1.ini is not a valid work unit (Where is missing or 0); "
                      "renamed to Range1.ini.bad");
  EXPECT_EQ(shown[1], "Error: Range2.ini is not a valid work unit (a value is not 16 hexadecimal "
                      "digits); renamed to Range2.ini.bad");
  EXPECT_EQ(read_file("Range1.ini.bad"), utf16);
  expect_covered(0, 1000);
}

TEST_F(Hostile, AUtf8ByteOrderMarkBeforeTheFirstSectionIsPassedOver) {
  // An editor's "UTF-8" adds EF BB BF before [Main]; the unit and the
  // stored range under it are read as they are.
  write_file("Quarn.ini", "\xEF\xBB\xBF[Main]\r\nwhere=00000000000F4240\r\nsrt_pos=0000000000000000\r\n"
                          "cur_pos=00000000000003E8\r\nend_pos=00000000000007D0\r\n");
  write_file("Range1.ini", "\xEF\xBB\xBF" + unit_text(million, 2000, 3000));
  ASSERT_EQ(run_to_end(), "Error: Range.ini not found");
  expect_covered(1000, 3000);
  EXPECT_FALSE(fs::exists("Range1.ini.bad"));
  EXPECT_EQ(read_file("Quarn.ini").rfind("\xEF\xBB\xBF[Main]\r\n", 0), 0u);
  EXPECT_EQ(read_file("Quarn.ini").find("[Main]", 8), std::string::npos);
}

// --- duplicates ---

TEST_F(Hostile, DuplicateSectionsAndKeysTheFirstIsReadAndWritten) {
  // Reads and writes agree on the first of each, so a second [Main] or a
  // second key can neither hand out a stale range nor hide a write.
  write_file("Quarn.ini", used_up_main + "where=0000000005F5E100\r\n[Thread0]\r\n"
                          "where=00000000000F4240\r\ncur_pos=00000000000003E8\r\n"
                          "end_pos=00000000000007D0\r\n[Main]\r\nwhere=0000000005F5E100\r\n"
                          "cur_pos=0000000000000000\r\nend_pos=0000000001312C00\r\n"
                          "[Thread0]\r\nwhere=0000000005F5E100\r\ncur_pos=0000000000000000\r\n"
                          "end_pos=0000000000001000\r\n");
  write_file("Range1.ini", unit_text(million, 2000, 3000) + "Where=0000000005F5E100\r\n" +
                               unit_text(100000000, 0, 1000));
  ASSERT_EQ(run_to_end(), "Error: Range.ini not found");
  expect_covered(1000, 3000);  // [Thread0]'s chunk, then the unit's first [Main]
  EXPECT_EQ(ini("Main", "where"), "00000000000F4240");
  EXPECT_EQ(ini("Main", "end_pos"), "0000000000000BB8");
  const std::string now = read_file("Quarn.ini");
  EXPECT_NE(now.find("[Main]\r\nwhere=0000000005F5E100\r\ncur_pos=0000000000000000\r\n"),
            std::string::npos);  // the second [Main] untouched
}

// --- enormous numbers ---

TEST_F(Hostile, EnormousPositionsAreRefusedBeforeTheKernelSeesThem) {
  write_file("Quarn.ini", "[Main]\r\nwhere=FFFFFFFFFFFFFFFF\r\nsrt_pos=0000000000000000\r\n"
                          "cur_pos=0000000000000000\r\nend_pos=FFFFFFFFFFFFFFFF\r\n");
  run_once();
  EXPECT_FALSE(retirements.started);
  EXPECT_STREQ(coordinator.error_text, "Error: Quarn.ini holds a range that cannot be evaluated "
                                 "(Where lies beyond the positions the kernel evaluates)");

  // Units at the edge of 64 bits: beyond the head, or a stretch that ends
  // before it starts; the chunk end arithmetic never wraps.
  write_used_up_state();
  write_file("Range1.ini", unit_text(million, 0xFFFFFFFFFFFFFFF0u, 0xFFFFFFFFFFFFFFFFu));
  write_file("Range2.ini", unit_text(million, 0xFFFFFFFFFFFFFFFFu, 0));
  write_file("Range3.ini", unit_text(where_limit, 0, 16));
  write_unit("Range4.ini", million, 0, 1000);
  ASSERT_EQ(run_to_end(), "Error: Range.ini not found");
  for (const char *bad : {"Range1.ini.bad", "Range2.ini.bad", "Range3.ini.bad"})
    EXPECT_TRUE(fs::exists(bad)) << bad;
  expect_covered(0, 1000);
}

TEST_F(Hostile, CountersAtTheEndsOfTheirRangeNeitherOverflowNorStopTheWork) {
  // The counters only decide when to ask for a file; values no run can
  // reach (or past 32 bits, which wrap as the system's parser wraps them)
  // are counted on without overflow.
  for (const char *counts : {"output0=2147483647\r\noutput1=-2147483648\r\n",
                             "output0=-2147483648\r\noutput1=2147483647\r\n",
                             "output0=99999999999999999999\r\noutput1=-99999999999\r\n"}) {
    SCOPED_TRACE(counts);
    for (const auto &e : fs::directory_iterator(dir)) fs::remove_all(e.path());
    write_file("Quarn.ini", used_up_main + counts);
    write_unit("Range1.ini", million, 0, 1000);
    write_unit("Range2.ini", million, 1000, 2000);
    ASSERT_EQ(run_to_end(), "Error: Range.ini not found");
    expect_covered(0, 2000);
    state_is_whole();
  }
}

// --- many files, and files that are folders ---

TEST_F(Hostile, HundredsOfUnitsAreTakenOneByOneInNameOrder) {
  write_used_up_state();
  for (int i = 0; i < 300; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "Range%03d.ini", i);
    write_unit(name, million, 100u * i, 100u * (i + 1));
  }
  ASSERT_EQ(run_to_end(), "Error: Range.ini not found");
  expect_covered(0, 30000);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 3);  // state, results
}

TEST_F(Hostile, HundredsOfBadUnitsAreAllSetAsideInOneSearch) {
  write_used_up_state();
  for (int i = 0; i < 300; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "Range%03d.ini", i);
    write_file(name, unit_text(million, 5, 5));
  }
  write_unit("RangeZ.ini", million, 0, 1000);
  ASSERT_EQ(run_to_end(), "Error: Range.ini not found");
  EXPECT_TRUE(fs::exists("Range299.ini.bad"));
  expect_covered(0, 1000);
}

TEST_F(Hostile, FoldersNamedLikeTheClientsFiles) {
  // Quarn.ini a folder: nothing can be read, so nothing starts.
  fs::create_directory("Quarn.ini");
  run_once();
  EXPECT_FALSE(retirements.started);
  EXPECT_STREQ(coordinator.error_text, "Error: cannot read Quarn.ini");
  fs::remove("Quarn.ini");

  // Range0.ini a folder: not a unit; the search passes it by.
  write_used_up_state();
  fs::create_directory("Range0.ini");
  write_unit("Range1.ini", million, 0, 1000);
  // output1.txt a folder, met at the partial line of a Stop: the stretch
  // stays stored and is evaluated again once the folder is gone.
  fs::create_directory("output1.txt");
  fake_kernel.block.store(1);
  fake_kernel.yield_each.store(true);
  worker_state.processors = 1;
  ASSERT_TRUE(start_calculating());
  thread_sleep(20);
  stop_calculating();
  EXPECT_STREQ(coordinator.error_text, "Error: cannot write output1.txt");
  EXPECT_EQ(coordinator.failed_workers.load(), 1);
  EXPECT_EQ(ini("Thread0", "cur_pos"), "0000000000000000");
  fs::remove("output1.txt");

  fake_kernel.block.store(1 << 10);
  fake_kernel.yield_each.store(false);
  EXPECT_EQ(run_to_end(), "Error: Range.ini not found");
  EXPECT_TRUE(fs::is_directory("Range0.ini"));
  expect_covered(0, 1000);
}

// A unit whose import was written to the state file but not yet deleted (a
// kill in between; here the deletion fails, which leaves the same) is not
// taken a second time, also when a unit named before it arrives meanwhile.
// A unit that only looks alike but was never imported is still taken.
TEST_F(Hostile, AUnitLeftBehindByAKillIsNotTakenAgainAfterALaterOne) {
  write_used_up_state();
  write_unit("RangeB.ini", million, 0, 1000);
  ASSERT_TRUE(load_main_state(0));
  fault_inject(PlatformOp::file_delete, 1, false);
  ASSERT_EQ(import_work_unit(), ImportResult::imported);
  ASSERT_TRUE(fs::exists("RangeB.ini"));
  fault_reset();

  write_unit("RangeA.ini", million, 1000, 2000);
  range.cur_pos = range.end_pos;
  ASSERT_EQ(import_work_unit(), ImportResult::imported);
  EXPECT_EQ(range.srt_pos, 1000u);
  range.cur_pos = range.end_pos;
  EXPECT_EQ(import_work_unit(), ImportResult::none_found);
  EXPECT_FALSE(fs::exists("RangeB.ini"));
}

// An import cut short by a kill leaves the unit's values in [Main] with
// "cur_pos" at the marker: nothing of it was handed out, so the unit, found
// behind a later one, is still taken and not mistaken for a leftover.
TEST_F(Hostile, AUnitWhoseImportWasCutShortIsStillTaken) {
  write_file("Quarn.ini", "[Main]\r\nwhere=" + hex16(million) +
                              "\r\nsrt_pos=0000000000000000\r\ncur_pos=FFFFFFFFFFFFFFFF"
                              "\r\nend_pos=00000000000003E8\r\n");
  write_unit("RangeA.ini", million, 1000, 2000);
  write_unit("RangeB.ini", million, 0, 1000);
  ASSERT_TRUE(load_main_state(0));
  ASSERT_EQ(import_work_unit(), ImportResult::imported);
  EXPECT_EQ(range.srt_pos, 1000u);
  EXPECT_TRUE(fs::exists("RangeB.ini"));
  range.cur_pos = range.end_pos;
  ASSERT_EQ(import_work_unit(), ImportResult::imported);
  EXPECT_EQ(range.srt_pos, 0u);
  EXPECT_EQ(range.end_pos, 1000u);
  EXPECT_FALSE(fs::exists("RangeB.ini"));
}

// Quarn.ini saved as UTF-16 by an editor: every key would read as missing,
// so the start is refused and the file left as it is, not taken for a fresh
// start on the default range and written over.
TEST_F(Hostile, AStateFileSavedAsUtf16RefusesTheStartAndIsKept) {
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("[Main]\r\nwhere=00000000000F4240\r\nsrt_pos=0000000000000000\r\n"
                            "cur_pos=00000000000003E8\r\nend_pos=00000000000007D0\r\n")) {
    utf16 += c;
    utf16 += '\0';
  }
  write_file("Quarn.ini", utf16);
  EXPECT_FALSE(load_main_state(0));
  EXPECT_STREQ(coordinator.error_text, "Error: cannot read Quarn.ini");
  EXPECT_EQ(read_file("Quarn.ini"), utf16);
}
