// A transactional data module serving a real SQLite table, on the embedded driver and
// through ODBC, called by name as a script calls it: records, parameters, execute,
// deltas, bad input, and the votes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "automation/MtsRdm.h"
#include "automation/VCLCom.h"
#include "data/ado_command.h"
#include "data/ado_connection.h"
#include "data/ado_query.h"
#include "data/data_error.h"
#include "data/data_set_provider.h"
#include "mts_test_support.h"

namespace qar::automation {
namespace {

class TdmProdutos : public TMtsDataModule {
 public:
  TdmProdutos() {
    connection.SetConnectionString(connectionString);
    query.SetConnection(&connection);
    query.SQL().Add("SELECT ID, NOME, PRECO FROM PRODUTO WHERE PRECO >= :MINIMO ORDER BY ID");
    dspProdutos.SetName("dspProdutos");
    dspProdutos.SetDataSet(&query);
    dspProdutos.SetTableName("PRODUTO");
    dspProdutos.SetKeyFields({"ID"});
    RegisterProvider(dspProdutos);
    command.SetConnection(&connection);
    command.SetCommandText("UPDATE PRODUTO SET PRECO = PRECO * :FATOR");
    dspReajuste.SetName("dspReajuste");
    dspReajuste.SetCommand(&command);
    RegisterProvider(dspReajuste);
    last = this;
  }
  TADOConnection& connection = CreateComponent<TADOConnection>();
  TADOQuery& query = CreateComponent<TADOQuery>();
  TADOCommand& command = CreateComponent<TADOCommand>();
  TDataSetProvider& dspProdutos = CreateComponent<TDataSetProvider>();
  TDataSetProvider& dspReajuste = CreateComponent<TDataSetProvider>();

  static inline std::string connectionString;
  static inline TdmProdutos* last = nullptr;
};

com::TAutoObjectFactory gProdutosFactory = VCLAutoObjectFactoryOf<TdmProdutos>(
    {TGUID::Parse("{6C1F2A3B-4D5E-4F60-8172-93A4B5C6D7EA}"), "dmProdutos", "QarTeste.Produtos", ""},
    com::AppServerTypeInfo<TdmProdutos>("IdmProdutos", TGUID::Parse("{6C1F2A3B-4D5E-4F60-8172-93A4B5C6D7EB}")).Build());

struct DriverCase {
  const char* name;
  const char* prefix;
};

const char kInitialRows[] = "1 Cafe 12.5;2 Cha 4;3 Mate 7.25;";

class ProviderTest : public ::testing::TestWithParam<DriverCase> {
 protected:
  void SetUp() override {
    file_ = std::string("qar_provider_test_") + GetParam().name + ".db";
    std::remove(file_.c_str());
    TdmProdutos::connectionString = GetParam().prefix + file_;
    server = com::CreateOleObject("QarTeste.Produtos");
    connection = &TdmProdutos::last->connection;
    try {
      connection->Open();
    } catch (const EDataError& error) {
      if (error.SqlState() == "IM002" || error.SqlState() == "IM003")
        GTEST_SKIP() << "ODBC driver not installed: " << error.what();
      throw;
    }
    connection->Execute("CREATE TABLE PRODUTO (ID INTEGER PRIMARY KEY, NOME VARCHAR(30) NOT NULL UNIQUE, PRECO FLOAT)");
    connection->Execute("INSERT INTO PRODUTO VALUES (1, 'Cafe', 12.5), (2, 'Cha', 4), (3, 'Mate', 7.25)");
    server.As<com::IObjectControl>()->Activate();
  }
  void TearDown() override {
    server.Reset();
    std::remove(file_.c_str());
  }

  // The table as "ID NOME PRECO;" per row.
  std::string Table() {
    TADOQuery query;
    query.SetConnection(connection);
    query.SQL().Add("SELECT ID, NOME, PRECO FROM PRODUTO ORDER BY ID");
    query.Open();
    std::string text;
    for (; !query.Eof(); query.Next())
      text += query.Fields(0).AsString() + " " + query.Fields(1).AsString() + " " + query.Fields(2).AsString() + ";";
    return text;
  }
  std::string Call(const std::string& member, const std::string& args) {
    return VariantText(call.Call(*server, member, args));
  }

  std::string file_;
  testing::TInstalledObjectContext installed;
  TComPtr<com::IDispatch> server;
  TADOConnection* connection = nullptr;
  testing::TScriptCall call;
};

TEST_P(ProviderTest, RecordsOfAQueryWithAParameterAllAndTheFirstN) {
  const struct {
    const char* count;
    const char* rows;
  } cases[] = {{"-1", R"([[1, "Cafe", 12.5], [3, "Mate", 7.25]])"}, {"1", R"([[1, "Cafe", 12.5]])"}, {"0", "[]"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.count);
    EXPECT_EQ(Call("AS_GetRecords", std::string(R"(["dspProdutos", )") + c.count + R"(, Empty, 0, "", [["MINIMO", 5S]], Empty])"),
              std::string(R"(["DataPacket 1", [["ID", 3], ["NOME", 8], ["PRECO", 5]], )") + c.rows + "]");
    EXPECT_EQ(call.args[2], Variant(static_cast<std::int32_t>(V(c.rows).ArrayItems().size())));
  }
  // The instrumented call votes complete before each operation, the operation after it.
  EXPECT_EQ(installed.context->votes, "complete,complete,complete,complete,complete,complete");
}

TEST_P(ProviderTest, ExecuteWithTheClientsValuesAndParametersAndARowReadAgainByKey) {
  EXPECT_EQ(Call("AS_GetParams", R"(["dspReajuste", Empty])"), R"([["FATOR", Empty, 0, 1]])");
  Call("AS_Execute", R"(["dspReajuste", "", [["FATOR", 2, 0, 1]], Empty])");
  EXPECT_EQ(call.failure, "");
  EXPECT_EQ(VariantText(call.args[2]), "[]");  // no output parameters
  EXPECT_EQ(Table(), "1 Cafe 25;2 Cha 8;3 Mate 14.5;");
  EXPECT_EQ(Call("AS_RowRequest", R"(["dspProdutos", ["DataPacket 1", [["ID", 3], ["NOME", 8]], [[3, Null]]], 0, Empty])"),
            R"(["DataPacket 1", [["ID", 3], ["NOME", 8]], [[3, "Mate"]]])");
  EXPECT_EQ(installed.context->votes, "complete,complete,complete,complete,complete,complete");
}

TEST_P(ProviderTest, DeltasAppliedAndARowThatFailsKeepsNothingUnderMaximum0AndTheOthersUnderMaximum1) {
  // Renaming Cafe to Mate breaks NOME's uniqueness; there is no product 9.
  const char* breaksUnique = R"(["Delta 1", [["ID", 3], ["NOME", 8]],
                                  [[1, [4, "Erva"]], [2, [Empty, "Mate"], [1, Empty]], [3, [2, Empty]]]])";
  const char* findsNoRow = R"(["Delta 1", [["ID", 3], ["NOME", 8]], [[1, [4, "Erva"]], [3, [9, Empty]]]])";
  const struct {
    const char* delta;
    const char* maxErrors;
    const char* error;  // in the message of failed row 1, if any
    const char* table;
    const char* vote;
  } cases[] = {
      {R"(["Delta 1", [["ID", 3], ["NOME", 8], ["PRECO", 5]],
           [[1, [4, "Erva", Empty]], [2, [Empty, "Cafe forte", 13S], [1, "Cafe", 12.5]], [3, [2, Empty, Empty]]]])",
       "0", nullptr, "1 Cafe forte 13;3 Mate 7.25;4 Erva ;", "complete"},
      {breaksUnique, "0", "UNIQUE constraint failed: PRODUTO.NOME", kInitialRows, "abort"},
      {breaksUnique, "1", "UNIQUE constraint failed: PRODUTO.NOME", "1 Cafe 12.5;3 Mate 7.25;4 Erva ;", "complete"},
      {findsNoRow, "0", "The row of PRODUTO with ID = 9 was not found: another user changed or deleted it",
       kInitialRows, "abort"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table);
    installed.context->votes.clear();
    const Variant errors =
        call.Call(*server, "AS_ApplyUpdates", std::string(R"(["dspProdutos", )") + c.delta + ", " + c.maxErrors + ", Empty, Empty]");
    ASSERT_EQ(errors.ArrayItems().size(), c.error ? 1u : 0u) << call.failure;
    if (c.error) {
      EXPECT_EQ(errors.ArrayItems()[0].ArrayItems()[0], Variant(1));
      // ODBC drivers may add their own words around the server's message.
      EXPECT_NE(errors.ArrayItems()[0].ArrayItems()[1].AsString().find(c.error), std::string::npos) << VariantText(errors);
    }
    EXPECT_EQ(call.args[3], Variant(c.error ? 1 : 0));
    EXPECT_EQ(Table(), c.table);
    EXPECT_EQ(installed.context->votes, std::string("complete,") + c.vote);
    EXPECT_FALSE(connection->InTransaction());
    connection->Execute("DELETE FROM PRODUTO WHERE ID > 3");
    connection->Execute("INSERT OR REPLACE INTO PRODUTO VALUES (1, 'Cafe', 12.5), (2, 'Cha', 4)");
  }
}

TEST_P(ProviderTest, BadInputIsRefusedWithItsDescriptionAndChangesNothing) {
  const struct {
    const char* member;
    const char* args;
    const char* failure;
  } cases[] = {
      {"AS_ApplyUpdates", R"(["dspNada", ["Delta 1", [["ID", 3]], [[1, [5]]]], 9, Empty, Empty])", "Provider not found: dspNada"},
      {"AS_ApplyUpdates", R"(["dspProdutos", ["DataPacket 1", [["ID", 3]], []], 9, Empty, Empty])",
       R"(Invalid delta: it does not start with "Delta 1")"},
      {"AS_ApplyUpdates", R"(["dspProdutos", ["Delta 1", [["ID", 3]], [[1, [5]], [1, ["6"]]]], 9, Empty, Empty])",
       "Invalid delta: row 1, field ID: Text where Integer is expected"},
      {"AS_ApplyUpdates", R"(["dspProdutos", ["Delta 1", [["ID", 3]], [[1, [5]], [1, [2147483648L]]]], 9, Empty, Empty])",
       "Invalid delta: row 1, field ID: Int64 where Integer is expected"},
      {"AS_ApplyUpdates", R"(["dspProdutos", ["Delta 1", [["ID", 3]], [[1, [5]], [4, [6]]]], 9, Empty, Empty])",
       "Invalid delta: row 1 has no state 4"},
      {"AS_ApplyUpdates", R"(["dspProdutos", ["Delta 1", [["ID", 3]], [[1, [5]], [3, [Null]]]], 9, Empty, Empty])",
       "Provider dspProdutos: delta row 1: key field ID has no value"},
      {"AS_ApplyUpdates", R"(["dspProdutos", ["Delta 1", [["NOME", 8]], [[3, ["Cha"]]]], 9, Empty, Empty])",
       "Provider dspProdutos: key field ID is missing"},
      {"AS_ApplyUpdates", R"(["dspProdutos", ["Delta 1", [["ID", 3], ["NOME; DROP TABLE PRODUTO", 8]], [[1, [5, "x"]]]], 9, Empty, Empty])",
       "Invalid delta: field 1 is not a plain column name"},
      {"AS_ApplyUpdates", R"(["dspReajuste", ["Delta 1", [["ID", 3]], [[1, [5]]]], 9, Empty, Empty])",
       "Provider dspReajuste: no table to update"},
      {"AS_GetRecords", R"(["dspProdutos", -1, Empty, 0, "", [["MINIMO", 1], ["NADA", 1]], Empty])",
       "Provider dspProdutos: parameter NADA not found"},
      {"AS_Execute", R"(["dspReajuste", "DELETE FROM PRODUTO", [["FATOR", 0]], Empty])",
       "Provider dspReajuste: a client's command text is not accepted"},
      {"AS_RowRequest", R"(["dspProdutos", ["DataPacket 1", [["ID", 3]], [[1], [2]]], 0, Empty])",
       "Provider dspProdutos: a row request holds one row, not 2"},
      {"AS_RowRequest", R"(["dspProdutos", ["DataPacket 1", [], 3], 0, Empty])",
       "Invalid data packet: the row list is Integer, not an array"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    Call(c.member, c.args);
    EXPECT_EQ(call.failure, c.failure);
  }
  EXPECT_EQ(Table(), kInitialRows);
}

INSTANTIATE_TEST_SUITE_P(Drivers, ProviderTest,
                         ::testing::Values(DriverCase{"embedded", "Provider=SQLite;Data Source="},
                                           DriverCase{"odbc", "Driver=SQLite3;Database="}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qar::automation
