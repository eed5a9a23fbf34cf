// Update FDB command: which form runs, the error entry for code 30 and the
// two failed step lines, on real databases.
#include "commands/update_fdb.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/fake_host.h"
#include "tables/update_fdb_test_db.h"
#include "test_support.h"

namespace veupd {
namespace {

using test::FakeHost;
using test::TempDir;
using test::fdb::Rec;

constexpr std::size_t kKey = 5;

class UpdateFdbCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { test::fdb::WriteDb(dir_, kKey, {{"B.DAT", "b"}, {"D.DAT", "d"}}); }
  std::string Db() const { return dir_ / "DATA.FDB"; }
  std::vector<Rec> Records() const {
    const auto parsed = test::fdb::ReadDb(dir_, kKey);
    EXPECT_EQ(parsed.problem, "");
    return parsed.records;
  }

  TempDir dir_;
  FakeHost host_;
};

TEST_F(UpdateFdbCommandTest, MissingParam1) {
  host_.SetParams({"", "DELETE", "B.DAT"});
  EXPECT_EQ(RunUpdateFdb(host_).code(), 4);
  ASSERT_EQ(host_.errors.size(), 1u);
  EXPECT_EQ(host_.errors[0].code, 4);
  EXPECT_EQ(test::Params(host_.errors[0]), (std::vector<std::string>{"PARAM1", "", "", ""}));
  ASSERT_EQ(host_.steps.size(), 1u);
  EXPECT_FALSE(host_.steps[0].success);
  EXPECT_EQ(host_.steps[0].text, "FDB Update");
  EXPECT_EQ(host_.steps[0].code, 4);
}

TEST_F(UpdateFdbCommandTest, FailedControlListReportsTheListAndTwoSteps) {
  const std::string list = dir_ / "none.txt";
  host_.SetParams({list});
  EXPECT_EQ(RunUpdateFdb(host_).code(), 30);
  ASSERT_EQ(host_.errors.size(), 1u);
  EXPECT_EQ(test::Params(host_.errors[0]), (std::vector<std::string>{list, "", "", ""}));
  ASSERT_EQ(host_.steps.size(), 2u);
  EXPECT_EQ(host_.steps[0].text, "Updating FDB using file (" + list + ")");
  EXPECT_EQ(host_.steps[1].text, "Could not open file " + list + "!\n");
}

TEST_F(UpdateFdbCommandTest, ParamOneAndTwoWithoutThreeIsAControlList) {
  const std::string list = dir_ / "ctl.txt";
  test::WriteFile(list, Db() + "\tDELETE\tD.DAT\n");
  host_.SetParams({list, "DELETE"});
  EXPECT_TRUE(RunUpdateFdb(host_).ok());
  ASSERT_EQ(host_.steps.size(), 1u);
  EXPECT_TRUE(host_.steps[0].success);
  EXPECT_EQ(host_.steps[0].text, "Updating FDB using file (" + list + ")");
  EXPECT_EQ(Records(), (std::vector<Rec>{{"B.DAT", "b"}}));
}

}  // namespace
}  // namespace veupd
