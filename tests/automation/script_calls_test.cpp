// What a script does with the test server ("QarTeste.Servidor"), made in process
// through the class manager; com_server_win32_test.cpp makes the same calls through
// the system's COM from a script.
#include <gtest/gtest.h>

#include "com/com_object.h"
#include "com/dispatch_client.h"

namespace qar::com {
namespace {

TEST(ScriptCallsTest, ByNameWithTextsIntegersNullReferencesAndAnError) {
  const std::int64_t liveBefore = LiveComObjectCount();
  {
    TComPtr<IDispatch> server = CreateOleObject("QarTeste.Servidor");
    EXPECT_EQ(CallByName(*server, "Concat", {"abc", "def"}), Variant("abcdef"));
    EXPECT_EQ(CallByName(*server, "Add", {40, 2}), Variant(42));
    EXPECT_EQ(CallByName(*server, "FirstByte", {"\xABx"}), Variant(171));
    EXPECT_EQ(CallByName(*server, "ArgType", {Variant::Null()}), Variant(kVarNull));
    Variant x = 5;
    CallByName(*server, "Increment", {Variant::ByRef(x)});
    EXPECT_EQ(x, Variant(6));
    EXPECT_EQ(CallByName(*server, "ArgType", {Variant::ByRef(x)}), Variant(kVarByRef | kVarVariant));
    EXPECT_EQ(CallByName(*server, "ValueType", {Variant::ByRef(x)}), Variant(kVarInteger));
    try {
      CallByName(*server, "Fail", {"Estoque insuficiente"});
      ADD_FAILURE() << "no failure";
    } catch (const EOleException& e) {
      EXPECT_STREQ(e.what(), "Estoque insuficiente");
      EXPECT_EQ(e.Code(), kE_FAIL);
    }
    try {
      CallByName(*server, "Add", {1});
      ADD_FAILURE() << "no failure";
    } catch (const EOleError& e) {
      EXPECT_EQ(e.Code(), kDISP_E_BADPARAMCOUNT);
    }
  }
  EXPECT_EQ(LiveComObjectCount(), liveBefore);
}

}  // namespace
}  // namespace qar::com
