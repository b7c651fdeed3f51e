// What the data-set provider does where a SQLite table cannot show it: output values
// a driver returns, and field types that follow every row of a result.
#include "data/data_set_provider.h"

#include <gtest/gtest.h>

#include "data/ado_connection.h"
#include "recording_session.h"
#include "variant_text.h"

namespace qar {
namespace {

TEST(DataSetProviderTest, ExecuteReturnsTheOutputValuesTheDriverGives) {
  auto recording = std::make_shared<testing::Recording>();
  TComponent module;
  TADOConnection& connection = module.CreateComponent<TADOConnection>();
  connection.ConnectionObject()->SetSessionFactory(testing::RecordingFactory(recording));
  TADOCommand& command = module.CreateComponent<TADOCommand>();
  command.SetConnection(&connection);
  command.SetCommandType(cmdStoredProc);
  command.SetCommandText("SP_TOTAL");
  command.Parameters().CreateParameter("FILIAL", ftString, pdInput, 3, Variant());
  command.Parameters().CreateParameter("TOTAL", ftInteger, pdOutput, 0, Variant());
  TDataSetProvider& provider = module.CreateComponent<TDataSetProvider>();
  provider.SetCommand(&command);

  Variant params = V(R"([["FILIAL", "001"]])");
  Variant owner;
  provider.Execute("", params, owner);
  EXPECT_EQ(VariantText(params), R"([["TOTAL", 99, 3, 2]])");
  ASSERT_EQ(recording->calls.size(), 1u);
  EXPECT_EQ(recording->calls[0].parameters[0].value, Variant("001"));
}

TEST(DataPacketTest, FieldTypesFollowEveryRowAndNamesStayUnique) {
  const struct {
    const char* rows;
    const char* packet;
  } cases[] = {
      {"[[1L], [Null]]", R"([["A", 3]], [[1], [Null]])"},
      {"[[1L], [4294967296L]]", R"([["A", 20]], [[1L], [4294967296L]])"},
      {"[[1L], [2.5]]", R"([["A", 5]], [[1.0], [2.5]])"},
      {R"([["x"], [5L]])", R"([["A", 8]], [["x"], ["5"]])"},
      {"[[Null]]", R"([["A", 8]], [[Null]])"},
      {"[[#45000.5#], [Null]]", R"([["A", 7]], [[#45000.5#], [Null]])"},
      {"[[True]]", R"([["A", 11]], [[True]])"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rows);
    std::vector<std::vector<Variant>> rows;
    const Variant given = V(c.rows);
    for (const Variant& row : given.ArrayItems()) rows.push_back(row.ArrayItems());
    const Variant packet = MakeDataPacket(DataPacketOf({"A"}, rows));
    EXPECT_EQ(VariantText(packet), std::string(R"(["DataPacket 1", )") + c.packet + "]");
    EXPECT_EQ(MakeDataPacket(ReadDataPacket(packet)), packet);
  }
  EXPECT_EQ(VariantText(MakeDataPacket(DataPacketOf({"A", "a", ""}, {}))),
            R"(["DataPacket 1", [["A", 8], ["a_1", 8], ["Field3", 8]], []])");
}

}  // namespace
}  // namespace qar
