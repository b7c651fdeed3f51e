// A delta as a client sends it (first byte: the maximum error count, -1 to 2, and in
// bit 2 "a parameter list instead"; then the value in the tests' variant notation,
// references, NaN, dates out of range and unsigned integers included), applied to a
// SQLite table in memory. A malformed delta is refused with a clear error and leaves
// the table as it was; an update with more errors than the maximum keeps nothing; no
// transaction stays open. As a parameter list for GetRecords: refused or read, and
// a later call without parameters (after the caller's variables are gone) sees none
// of them.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "../tests/support/variant_text.h"
#include "data/ado_connection.h"
#include "data/ado_query.h"
#include "data/data_set_provider.h"
#include "fuzz_check.h"

namespace {

struct TTable {
  TTable() {
    connection.SetConnectionString("Provider=SQLite;Data Source=:memory:");
    connection.Execute(
        "CREATE TABLE PRODUTO (ID INTEGER PRIMARY KEY, NOME VARCHAR(30) NOT NULL UNIQUE, "
        "PRECO FLOAT CHECK (PRECO >= 0))");
    query.SetConnection(&connection);
    query.SQL().Add("SELECT ID, NOME, PRECO FROM PRODUTO WHERE ID >= :MINIMO ORDER BY ID");
    query.Parameters().ParamByName("MINIMO").SetValue(0);
    provider.SetName("dspProdutos");
    provider.SetDataSet(&query);
    provider.SetTableName("PRODUTO");
    provider.SetKeyFields({"ID"});
  }
  void Reset() {
    connection.Execute("DELETE FROM PRODUTO");
    connection.Execute("INSERT INTO PRODUTO VALUES (1, 'Cafe', 12.5), (2, 'Cha', 4), (3, 'Mate', NULL)");
  }
  std::string Rows() {
    qar::TADOQuery read;
    read.SetConnection(&connection);
    read.SQL().Add("SELECT ID, NOME, PRECO FROM PRODUTO ORDER BY ID");
    read.Open();
    std::string text;
    for (; !read.Eof(); read.Next())
      for (int i = 0; i < 3; ++i) text += qar::VariantText(read.FieldValue(i)) + (i == 2 ? ";" : ",");
    return text;
  }

  qar::TComponent module;
  qar::TADOConnection& connection = module.CreateComponent<qar::TADOConnection>();
  qar::TADOQuery& query = module.CreateComponent<qar::TADOQuery>();
  qar::TDataSetProvider& provider = module.CreateComponent<qar::TDataSetProvider>();
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::int32_t maxErrors = static_cast<std::int32_t>(data[0] % 4) - 1;
  qar::Variant delta;
  auto reader = std::make_unique<qar::TVariantTextReader>(
      std::string_view(reinterpret_cast<const char*>(data + 1), size - 1), 6);
  try {
    delta = reader->Read();
  } catch (const std::invalid_argument&) {
    return 0;
  }
  static TTable table;
  table.Reset();
  if ((data[0] & 4) != 0) {
    std::int32_t records = 0;
    qar::Variant none, owner;
    const std::string all = qar::VariantText(table.provider.GetRecords(-1, records, 0, "", none, owner));
    try {
      table.provider.GetRecords(-1, records, 0, "", delta, owner);
    } catch (const std::exception& error) {
      QAR_FUZZ_CHECK(error.what()[0] != '\0');
    }
    delta = qar::Variant();
    reader.reset();  // the caller's variables go
    QAR_FUZZ_CHECK(qar::VariantText(table.provider.GetRecords(-1, records, 0, "", none, owner)) == all);
    return 0;
  }
  const std::string before = table.Rows();
  std::int32_t errorCount = -7;
  qar::Variant owner;
  qar::Variant errors;
  try {
    errors = table.provider.ApplyUpdates(delta, maxErrors, errorCount, owner);
  } catch (const qar::EProviderError& error) {
    QAR_FUZZ_CHECK(std::string(error.what()).find(": ") != std::string::npos);
    QAR_FUZZ_CHECK(table.Rows() == before);
    QAR_FUZZ_CHECK(!table.connection.InTransaction());
    return 0;
  }
  QAR_FUZZ_CHECK(!table.connection.InTransaction());
  QAR_FUZZ_CHECK(errorCount >= -1);
  QAR_FUZZ_CHECK(errors.ArrayItems().size() == static_cast<std::size_t>(errorCount < 0 ? 0 : errorCount));
  if (errorCount == -1 || errorCount > maxErrors) QAR_FUZZ_CHECK(table.Rows() == before);
  std::int32_t records = 0;
  qar::Variant none;
  const std::string after = qar::VariantText(table.provider.GetRecords(-1, records, 0, "", none, owner));
  delta = qar::Variant();
  errors = qar::Variant();
  reader.reset();  // the caller's variables go; a later call sees none of them
  QAR_FUZZ_CHECK(qar::VariantText(table.provider.GetRecords(-1, records, 0, "", none, owner)) == after);
  return 0;
}
