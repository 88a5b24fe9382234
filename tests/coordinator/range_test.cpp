// range_test.cpp: chunk allocation, chunk ends, work-unit import and the repair or refusal of damaged state, on the test thread.
#include <filesystem>
#include <string>
#include <vector>

#include "chunk_end.h"
#include "import.h"
#include "kernel.h"
#include "platform.h"
#include "range.h"
#include "results.h"
#include "state_file.h"
#include "support.h"
#include "workers.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t quantum = uint64_t(1) << 28;
constexpr uint64_t million = 1000000;  // a where whose head ends at 199,999
const std::string zero_line =
    "0000000000000000,0000000000000000,0000000000000000,00000000000000000000000000000000";

std::vector<std::string> messages;
void record_message(const char *text) { messages.push_back(text); }

// A slot as a worker holds it, loaded from its section.
struct TestSlot {
  alignas(16) unsigned char block[slot_block_bytes];
  WorkSlot *slot = slot_in_block(block);
  explicit TestSlot(int32_t number) {
    *slot = WorkSlot{};
    slot->thread_number = number;
    CoordinatorGuard guard;
    load_slot_chunk(slot);
  }
};

// [Main] of a state file with its range.
void write_main(uint64_t where, uint64_t srt_pos, uint64_t cur_pos, uint64_t end_pos,
                const std::string &extra = "") {
  write_file("Quarn.ini", "[Main]\r\nwhere=" + hex16(where) + "\r\nsrt_pos=" + hex16(srt_pos) +
                              "\r\ncur_pos=" + hex16(cur_pos) + "\r\nend_pos=" +
                              hex16(end_pos) + "\r\n" + extra);
}

}  // namespace

TEST(ChunkEnds, FallOnMultiplesOfTwoToTheTwentyEightCarryingIntoTheHighWord) {
  const uint64_t far = uint64_t(1) << 40;
  EXPECT_EQ(next_chunk_end(quantum + 5, far), 2 * quantum);
  EXPECT_EQ(next_chunk_end(quantum, far), 2 * quantum);
  EXPECT_EQ(next_chunk_end(15 * quantum + 1, far), uint64_t(1) << 32);
  EXPECT_EQ(next_chunk_end(0, 19999744), 19999744u);  // cut to the range's end
  EXPECT_EQ(next_chunk_end(3 * quantum - 1, 3 * quantum), 3 * quantum);
  EXPECT_EQ(next_chunk_end(~uint64_t(0) - 5, ~uint64_t(0)), ~uint64_t(0));  // no wrap
}

TEST(Counters, SignEncodingCountsProvisionallyBelowZero) {
  EXPECT_EQ(counter_settled(-1), 0);
  EXPECT_EQ(counter_settled(-3), 2);
  EXPECT_EQ(counter_settled(4), 4);
  EXPECT_EQ(counter_up(-1), -2);
  EXPECT_EQ(counter_up(0), 1);
  EXPECT_EQ(counter_down(-2), -1);
  EXPECT_EQ(counter_down(1), 0);
  EXPECT_EQ(counter_add_on_load(-1), -2);
  EXPECT_EQ(counter_add_on_load(2), 2);  // settled counts include loaded chunks
}

TEST_F(CoordinatorTest, FirstWorkerEndsItsEmptyChunkAndTakesTheWholeDefaultRange) {
  ASSERT_TRUE(load_main_state(0));
  EXPECT_EQ(range.where, 100000000u);
  EXPECT_EQ(range.end_pos, 19999744u);
  TestSlot a(0);
  EXPECT_EQ(result_counters.output[0], -2);
  on_terms_done(a.slot);

  EXPECT_EQ(read_file("output0.txt"), zero_line + "\r\n");
  EXPECT_EQ(a.slot->srt_pos, 0u);
  EXPECT_EQ(a.slot->end_pos, 19999744u);
  EXPECT_EQ(a.slot->where, 100000000u);
  EXPECT_EQ(ini("Main", "cur_pos"), "0000000001312C00");
  EXPECT_EQ(ini("Thread0", "where"), "0000000005F5E100");
  EXPECT_EQ(ini("Thread0", "cur_pos"), "0000000000000000");
  EXPECT_EQ(ini("Thread0", "end_pos"), "0000000001312C00");
  EXPECT_EQ(ini("Thread0", "outputf"), "0");
  EXPECT_EQ(ini("Main", "output0"), "-2");
  EXPECT_EQ(ini("Main", "output1"), "-1");
  EXPECT_EQ(range.done_count.load(), 16);

  // The second finds the range used up and, with no work unit, retires
  // after saving the end of its (empty) chunk; the counters stay. The first
  // still computes, so that is no error yet.
  TestSlot b(1);
  on_terms_done(b.slot);
  EXPECT_EQ(b.slot->thread_number, -1);
  EXPECT_STREQ(coordinator.error_text, "");
  EXPECT_EQ(coordinator.error_flag.load(), 0);
  EXPECT_EQ(ini("Thread1", "cur_pos"), "0000000000000000");
  EXPECT_EQ(result_counters.output[0], -3);
  EXPECT_EQ(read_lines("output0.txt").size(), 2u);

  // The last computing worker to find no work raises it.
  a.slot->cur_pos = a.slot->end_pos;
  on_terms_done(a.slot);
  EXPECT_EQ(a.slot->thread_number, -1);
  EXPECT_STREQ(coordinator.error_text, "Error: Range.ini not found");
  EXPECT_EQ(coordinator.error_flag.load(), 1);
}

TEST_F(CoordinatorTest, ChunksAreCutAtMultiplesOfTwoToTheTwentyEight) {
  const uint64_t where = uint64_t(5) << 34;  // a head far beyond 2^33
  write_main(where, 0, 15 * quantum + 1, uint64_t(1) << 33);
  ASSERT_TRUE(load_main_state(0));
  TestSlot a(0);
  on_terms_done(a.slot);
  EXPECT_EQ(a.slot->srt_pos, 15 * quantum + 1);
  EXPECT_EQ(a.slot->end_pos, uint64_t(1) << 32);
  EXPECT_EQ(ini("Thread0", "cur_pos"), "00000000F0000001");
  EXPECT_EQ(ini("Main", "cur_pos"), "0000000100000000");
  on_terms_done(a.slot);  // not complete: nothing happens
  EXPECT_EQ(a.slot->end_pos, uint64_t(1) << 32);

  a.slot->cur_pos = a.slot->end_pos;
  on_terms_done(a.slot);
  EXPECT_EQ(a.slot->srt_pos, uint64_t(1) << 32);
  EXPECT_EQ(a.slot->end_pos, (uint64_t(1) << 32) + quantum);
  const auto lines = read_lines("output0.txt");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].srt_pos, 15 * quantum + 1);
  EXPECT_EQ(lines[1].cur_pos, uint64_t(1) << 32);
}

TEST_F(CoordinatorTest, ImportTakesUnitsInNameOrderFlipsCurrentAndDeletesThem) {
  write_main(million, 0, 1000, 1000);
  write_unit("Range2.ini", million, 2000, 3000);
  write_unit("Range1.ini", million, 5000, 6000);
  ASSERT_TRUE(load_main_state(0));
  range.done_count.store(1234);

  ASSERT_EQ(import_work_unit(), ImportResult::imported);
  EXPECT_FALSE(fs::exists("Range1.ini"));
  EXPECT_TRUE(fs::exists("Range2.ini"));
  EXPECT_EQ(range.current, 1);
  EXPECT_EQ(range.srt_pos, 5000u);
  EXPECT_EQ(range.cur_pos, 5000u);
  EXPECT_EQ(range.end_pos, 6000u);
  EXPECT_EQ(range.done_count.load(), 1234 - 1000 + 5000);
  EXPECT_EQ(ini("Main", "current"), "1");
  EXPECT_EQ(ini("Main", "where"), "00000000000F4240");
  EXPECT_EQ(ini("Main", "srt_pos"), "0000000000001388");
  EXPECT_EQ(ini("Main", "cur_pos"), "0000000000001388");
  EXPECT_EQ(ini("Main", "end_pos"), "0000000000001770");

  range.cur_pos = range.end_pos;
  ASSERT_EQ(import_work_unit(), ImportResult::imported);
  EXPECT_FALSE(fs::exists("Range2.ini"));
  EXPECT_EQ(range.current, 0);
  EXPECT_EQ(range.done_count.load(), 1234);
  EXPECT_EQ(coordinator.error_flag.load(), 0);

  EXPECT_EQ(import_work_unit(), ImportResult::none_found);
  EXPECT_STREQ(coordinator.error_text, "Error: Range.ini not found");
  EXPECT_EQ(range.current, 0);
  EXPECT_EQ(range.srt_pos, 2000u);
}

TEST_F(CoordinatorTest, UnitsTheKernelCannotEvaluateAreRenamedAndTheNextIsTaken) {
  struct Case {
    const char *text;
    const char *reason;
  };
  const std::string w = "[Main]\r\nWhere=00000000000F4240\r\n";
  const Case cases[] = {
      {"[Main]\r\nWhere=00000000000F4240\r\nsrt_pos=0000000000000010\r\nend_pos="
       "0000000000000010\r\n",
       "srt_pos is not below end_pos"},
      {"[Main]\r\nWhere=00000000000F4240\r\n", "srt_pos is not below end_pos"},
      {"[Main]\r\nsrt_pos=0000000000000000\r\nend_pos=0000000000000010\r\n", "Where is missing"},
      {"[Main]\r\nWhere=00000000000F4240\r\nsrt_pos=0000000000000000\r\nend_pos="
       "0000000000030D40\r\n",
       "beyond the head"},
      {"[Main]\r\nWhere=0100000000000000\r\nsrt_pos=0000000000000000\r\nend_pos="
       "0000000000000010\r\n",
       "Where lies beyond"},
      {"[Main]\r\nWhere=F4240\r\nsrt_pos=0000000000000000\r\nend_pos=0000000000000010\r\n",
       "not 16 hexadecimal digits"},
  };
  write_main(million, 0, 0, 0);
  ASSERT_TRUE(load_main_state(0));
  for (const Case &c : cases) {
    write_file("RangeA.ini", c.text);
    EXPECT_EQ(import_work_unit(), ImportResult::none_found) << c.text;
    EXPECT_FALSE(fs::exists("RangeA.ini"));
    EXPECT_EQ(read_file("RangeA.ini.bad"), c.text);
    const std::string error = coordinator.error_text;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_NE(error.find("RangeA.ini"), std::string::npos) << error;
    EXPECT_EQ(range.end_pos, 0u);  // nothing taken
  }

  // A bad unit does not block the one after it.
  write_file("RangeA.ini", cases[0].text);
  write_unit("RangeB.ini", million, 0, 199999);
  EXPECT_EQ(import_work_unit(), ImportResult::imported);
  EXPECT_EQ(range.end_pos, 199999u);
  EXPECT_EQ(coordinator.error_flag.load(), 1);  // the refusal stays on show
}

TEST_F(CoordinatorTest, AUnitLeftBehindAfterItsImportIsNotTakenTwice) {
  write_main(million, 1000, 2000, 2000, "unit=Range1.ini\r\n");
  write_unit("Range1.ini", million, 1000, 2000);
  write_unit("Range2.ini", million, 2000, 3000);
  ASSERT_TRUE(load_main_state(0));
  std::vector<std::string> notes;
  static std::vector<std::string> *seen;
  seen = &notes;
  front_end.message = [](const char *text) { seen->push_back(text); };
  ASSERT_EQ(import_work_unit(), ImportResult::imported);
  EXPECT_FALSE(fs::exists("Range1.ini"));
  EXPECT_EQ(range.srt_pos, 2000u);
  EXPECT_EQ(notes, std::vector<std::string>{"Range1.ini was taken already and is deleted"});
  EXPECT_EQ(ini("Main", "unit"), "");
}

// The same range under another name, or under the same name once the
// file taken last is known to be gone, is a unit sent again: computed again.
TEST_F(CoordinatorTest, AUnitSentAgainIsComputedAgain) {
  for (const char *remembered : {"", "Range1.ini"}) {
    SCOPED_TRACE(remembered);
    coordinator_reset();
    use_fake_kernel();
    write_main(million, 1000, 2000, 2000, std::string("unit=") + remembered + "\r\n");
    write_unit("Range0.ini", million, 1000, 2000);  // same range, another name
    write_unit("Range1.ini", million, 1000, 3000);  // the remembered name, another range
    ASSERT_TRUE(load_main_state(0));
    ASSERT_EQ(import_work_unit(), ImportResult::imported);
    EXPECT_EQ(range.srt_pos, 1000u);
    EXPECT_EQ(range.end_pos, 2000u);
    EXPECT_FALSE(fs::exists("Range0.ini"));
    ASSERT_EQ(import_work_unit(), ImportResult::imported);
    EXPECT_EQ(range.end_pos, 3000u);
    EXPECT_FALSE(fs::exists("Range1.ini"));
  }
}

// A kill between the import's state writes and the deletion (here: the
// deletion fails, and the run ends) leaves the unit's name on file; the
// next start deletes that file rather than take it again.
TEST_F(CoordinatorTest, ALeftoverOfAnImportIsKnownByItsName) {
  write_main(million, 0, 0, 0);
  write_unit("Range1.ini", million, 1000, 2000);
  ASSERT_TRUE(load_main_state(0));
  fault_inject(PlatformOp::file_delete, 1, true);
  ASSERT_EQ(import_work_unit(), ImportResult::imported);
  fault_reset();
  EXPECT_TRUE(fs::exists("Range1.ini"));
  EXPECT_EQ(ini("Main", "unit"), "Range1.ini");

  coordinator_reset();
  use_fake_kernel();
  write_unit("Range2.ini", million, 2000, 3000);
  ASSERT_TRUE(load_main_state(0));
  range.cur_pos = range.end_pos;  // the unit's chunks all handed out
  ASSERT_EQ(import_work_unit(), ImportResult::imported);
  EXPECT_FALSE(fs::exists("Range1.ini"));
  EXPECT_EQ(range.srt_pos, 2000u);
  EXPECT_EQ(ini("Main", "unit"), "");
}

TEST_F(CoordinatorTest, AnImportCutShortIsRepeatedAtTheNextStart) {
  write_main(million, 0, 0, 0);
  write_unit("Range1.ini", million, 1000, 2000);
  ASSERT_TRUE(load_main_state(0));
  fault_inject(PlatformOp::profile_write_string, 4, false);  // after where and srt_pos
  EXPECT_EQ(import_work_unit(), ImportResult::failed);
  EXPECT_STREQ(coordinator.error_text, "Error: cannot write Quarn.ini");
  EXPECT_TRUE(fs::exists("Range1.ini"));
  EXPECT_EQ(range.end_pos, 0u);
  EXPECT_EQ(range.current, 0);
  // The stored range is marked as nothing to hand out, though its keys
  // already equal the unit's: the unit is still to be taken.
  EXPECT_EQ(ini("Main", "cur_pos"), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(ini("Main", "srt_pos"), "00000000000003E8");

  fault_reset();
  coordinator_reset();
  use_fake_kernel();
  ASSERT_TRUE(load_main_state(0));
  EXPECT_EQ(range.cur_pos, range.end_pos);
  ASSERT_EQ(import_work_unit(), ImportResult::imported);
  EXPECT_EQ(range.srt_pos, 1000u);
  EXPECT_EQ(range.end_pos, 2000u);
  EXPECT_FALSE(fs::exists("Range1.ini"));
}

TEST_F(CoordinatorTest, AKernelErrorRetiresTheSlotWithoutALine) {
  write_main(million, 0, 0, 199999);
  write_file("Quarn.ini", read_file("Quarn.ini") + "[Thread0]\r\nwhere=00000000000F4240\r\n"
                                                   "cur_pos=0000000000000000\r\nend_pos="
                                                   "0000000000000100\r\n");
  ASSERT_TRUE(load_main_state(0));
  TestSlot a(0);
  a.slot->cur_pos = a.slot->end_pos;  // the block that ended the chunk failed
  kernel.kernel_error.store(1);
  const int64_t done = range.done_count.load();
  on_terms_done(a.slot);
  EXPECT_EQ(a.slot->thread_number, -1);
  EXPECT_STREQ(coordinator.error_text, "Error: CPU appears to be overheating.");
  EXPECT_EQ(range.done_count.load(), done + 16);
  EXPECT_FALSE(fs::exists("output0.txt"));
  EXPECT_EQ(ini("Thread0", "cur_pos"), "0000000000000000");
}

TEST_F(CoordinatorTest, AResultFileThatCannotBeWrittenKeepsTheStateWhereItWas) {
  write_main(million, 0, 256, 199999,
             "output0=-1\r\noutput1=-1\r\n[Thread0]\r\nwhere=00000000000F4240\r\n"
             "cur_pos=0000000000000000\r\nend_pos=0000000000000100\r\n");
  ASSERT_TRUE(load_main_state(0));
  TestSlot a(0);
  a.slot->cur_pos = a.slot->end_pos;
  fault_inject(PlatformOp::file_append_line, 1, false);
  const int32_t counts[2] = {result_counters.output[0], result_counters.output[1]};
  on_terms_done(a.slot);
  EXPECT_EQ(a.slot->thread_number, -1);
  EXPECT_STREQ(coordinator.error_text, "Error: cannot write output0.txt");
  EXPECT_EQ(ini("Thread0", "cur_pos"), "0000000000000000");
  EXPECT_EQ(ini("Main", "cur_pos"), "0000000000000100");
  EXPECT_EQ(range.cur_pos, 256u);
  EXPECT_EQ(result_counters.output[0], counts[0]);
  EXPECT_EQ(result_counters.output[1], counts[1]);
  EXPECT_EQ(coordinator.failed_workers.load(), 1);
}

TEST_F(CoordinatorTest, AFailedStateWriteAtAnyPointNeverLosesTheChunk) {
  // The chunk end writes eight keys: five of [Thread0], [Main] "cur_pos",
  // the two counters. Fail each in turn.
  for (int nth = 1; nth <= 8; ++nth) {
    SCOPED_TRACE(nth);
    fs::remove("Quarn.ini");
    coordinator_reset();
    use_fake_kernel();
    write_main(million, 0, 0, 199999);
    ASSERT_TRUE(load_main_state(0));
    TestSlot a(0);
    fault_inject(PlatformOp::profile_write_string, nth, false);
    on_terms_done(a.slot);
    fault_reset();

    uint64_t thread_cur = 0, thread_end = 0, main_cur = 0;
    ASSERT_TRUE(read_position("Thread0", "cur_pos", 0, &thread_cur));
    ASSERT_TRUE(read_position("Thread0", "end_pos", 0, &thread_end));
    ASSERT_TRUE(read_position("Main", "cur_pos", 0, &main_cur));
    const bool held = thread_cur == 0 && thread_end == 199999;
    const bool still_to_hand_out = main_cur == 0;
    EXPECT_TRUE(held || still_to_hand_out);
    if (nth <= 6) {
      EXPECT_EQ(a.slot->thread_number, -1);
      EXPECT_STREQ(coordinator.error_text, "Error: cannot write Quarn.ini");
      EXPECT_EQ(range.cur_pos, 0u);  // handed back for the other workers
    } else {
      EXPECT_EQ(a.slot->thread_number, 0);  // the counters are rewritten later
      EXPECT_EQ(coordinator.error_flag.load(), 0);
    }
  }
}

TEST_F(CoordinatorTest, AChunkHandedOutJustBeforeACrashIsNotHandedOutAgain) {
  write_main(million, 0, 1000, 199999,
             "[Thread1]\r\nwhere=00000000000F4240\r\ncur_pos=00000000000003E8\r\n"
             "end_pos=0000000000001388\r\n");
  ASSERT_TRUE(load_main_state(1));  // section 1 will not be loaded: keep it
  EXPECT_EQ(range.cur_pos, 1000u);
  coordinator_reset();
  use_fake_kernel();
  ASSERT_TRUE(load_main_state(2));
  EXPECT_EQ(range.cur_pos, 5000u);
  EXPECT_EQ(ini("Main", "cur_pos"), "0000000000001388");
}

// A worker with nothing to do retires, and reports, at once: a report
// before the other worker has loaded its chunk of output1.txt must not
// settle that counter at 0, which no later load would correct.
TEST_F(CoordinatorTest, CountersSettleOnlyOnceEverySectionIsLoaded) {
  write_main(million, 0, 5000, 199999,
             "current=1\r\n[Thread0]\r\nwhere=00000000000F4240\r\ncur_pos=0000000000000064\r\n"
             "end_pos=0000000000000064\r\noutputf=0\r\n"
             "[Thread1]\r\nwhere=00000000000F4240\r\ncur_pos=00000000000003E8\r\n"
             "end_pos=0000000000001388\r\noutputf=1\r\n");
  ASSERT_TRUE(load_main_state(2));
  TestSlot first(0);
  {
    CoordinatorGuard guard;
    settle_counters();  // the first worker's report
  }
  EXPECT_LT(result_counters.output[1], 0);
  EXPECT_EQ(ini("Main", "output1"), "<missing>");
  TestSlot second(1);
  {
    CoordinatorGuard guard;
    settle_counters();
  }
  EXPECT_EQ(result_counters.output[0], 1);
  EXPECT_EQ(result_counters.output[1], 1);
  EXPECT_EQ(ini("Main", "output0"), "1");
  EXPECT_EQ(ini("Main", "output1"), "1");
}

TEST_F(CoordinatorTest, DamagedMainValuesAreRefusedAndAnOverrunIsRepaired) {
  front_end.message = record_message;
  messages.clear();
  write_file("Quarn.ini", "[Main]\r\nwhere=5F5E100\r\n");
  EXPECT_FALSE(load_main_state(0));
  EXPECT_STREQ(coordinator.error_text, "Error: Quarn.ini holds a damaged [Main] where");
  coordinator_reset();
  front_end.message = record_message;

  write_main(million, 0, 0, 200000);
  EXPECT_FALSE(load_main_state(0));
  EXPECT_NE(std::string(coordinator.error_text).find("beyond the head"), std::string::npos);
  coordinator_reset();
  front_end.message = record_message;

  write_main(million, 0, 0, 0, "current=2\r\n");
  EXPECT_FALSE(load_main_state(0));
  EXPECT_STREQ(coordinator.error_text, "Error: Quarn.ini holds a damaged [Main] current");
  coordinator_reset();
  front_end.message = record_message;

  write_main(million, 0, 5000, 4000);
  ASSERT_TRUE(load_main_state(0));
  EXPECT_EQ(range.cur_pos, 4000u);
  EXPECT_EQ(range.done_count.load(), 4000);
  EXPECT_EQ(ini("Main", "cur_pos"), "0000000000000FA0");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("cur_pos lay beyond end_pos"), std::string::npos);
}

TEST_F(CoordinatorTest, DamagedThreadSectionsRetireTheirWorkerOrAreRepaired) {
  front_end.message = record_message;
  messages.clear();
  write_main(million, 0, 0, 0,
             "[Thread0]\r\nwhere=00000000000F4240\r\ncur_pos=0000000000000200\r\n"
             "end_pos=0000000000000100\r\n"
             "[Thread1]\r\nwhere=00000000000F4240\r\ncur_pos=FFFFFFFFFFFFFFFF\r\n"
             "end_pos=0000000000000100\r\n"
             "[Thread2]\r\nwhere=00000000000F4240\r\ncur_pos=00000000000002\r\n"
             "[Thread3]\r\noutputf=7\r\n"
             "[Thread4]\r\nwhere=00000000000F4240\r\nend_pos=0000000000030D40\r\n");
  ASSERT_TRUE(load_main_state(0));

  TestSlot repaired(0);
  EXPECT_EQ(repaired.slot->cur_pos, 0x100u);
  EXPECT_EQ(repaired.slot->end_pos, 0x100u);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("[Thread0]"), std::string::npos);

  TestSlot marked(1);  // cut off while being rewritten: quietly empty
  EXPECT_EQ(marked.slot->thread_number, 1);
  EXPECT_EQ(marked.slot->cur_pos, marked.slot->end_pos);
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_EQ(coordinator.error_flag.load(), 0);

  const char *const expected[] = {
      "Error: [Thread2] of Quarn.ini is damaged (a value is not 16 hexadecimal digits)",
      "Error: [Thread3] of Quarn.ini is damaged (outputf is neither 0 nor 1)",
      ("Error: [Thread4] of Quarn.ini is damaged (end_pos lies beyond the head of the series "
       "at this Where)")};
  for (int n = 2; n <= 4; ++n) {
    TestSlot damaged(n);
    EXPECT_EQ(damaged.slot->thread_number, -1);
    EXPECT_STREQ(coordinator.error_text, expected[n - 2]);
  }
  EXPECT_EQ(ini("Thread2", "cur_pos"), "00000000000002");  // left for the user
}
