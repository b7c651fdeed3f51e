// The transactional data module's votes after each provider operation, seen on a
// recording context, with the operation's result and description.
#include "automation/MtsRdm.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "automation/VCLCom.h"
#include "com/error_info.h"
#include "mts_test_support.h"

namespace qar::automation {
namespace {

using testing::TInstalledObjectContext;

// Answers "ok" to every operation, or fails each with "falhou"; ApplyUpdates
// reports the error count it is told.
class TScriptedProvider : public TCustomProvider {
 public:
  Variant GetRecords(std::int32_t, std::int32_t&, std::int32_t, const std::string&, Variant&, Variant&) override {
    return Answer();
  }
  Variant ApplyUpdates(const Variant&, std::int32_t, std::int32_t& errorCount, Variant&) override {
    errorCount = reportedErrors;
    return Answer();
  }
  Variant GetParams(Variant&) override { return Answer(); }
  Variant RowRequest(const Variant&, std::int32_t, Variant&) override { return Answer(); }
  void Execute(const std::string&, Variant&, Variant&) override { Answer(); }
  Variant DataRequest(const Variant&) override { return Answer(); }
  static Variant Answer() {
    if (fail) throw std::runtime_error("falhou");
    return "ok";
  }

  static inline bool fail = false;
  static inline std::int32_t reportedErrors = 0;
};

class TdmVotos : public TMtsDataModule {
 public:
  TdmVotos() {
    provider.SetName("dsp");
    RegisterProvider(provider);
    last = this;
  }
  TScriptedProvider& provider = CreateComponent<TScriptedProvider>();
  static inline TdmVotos* last = nullptr;
};

com::TAutoObjectFactory gVotosFactory = VCLAutoObjectFactoryOf<TdmVotos>(
    {TGUID::Parse("{6C1F2A3B-4D5E-4F60-8172-93A4B5C6D7E8}"), "dmVotos", "QarTeste.Votos", ""},
    com::AppServerTypeInfo<TdmVotos>("IdmVotos", TGUID::Parse("{6C1F2A3B-4D5E-4F60-8172-93A4B5C6D7E9}")).Build());

struct VoteCase {
  const char* operation;
  const char* args;
  bool providerFails;
  std::int32_t reportedErrors;
  const char* votes;  // with a context and AutoComplete on
};

void PrintTo(const VoteCase& c, std::ostream* out) { *out << c.operation << c.args; }

const VoteCase kVoteCases[] = {
    // maximum, then the reported count
    {"AS_ApplyUpdates", R"(["dsp", Empty, 0, Empty, Empty])", false, 0, "complete"},
    {"AS_ApplyUpdates", R"(["dsp", Empty, 0, Empty, Empty])", false, 1, "abort"},
    {"AS_ApplyUpdates", R"(["dsp", Empty, -1, Empty, Empty])", false, 0, "abort"},
    {"AS_ApplyUpdates", R"(["dsp", Empty, -2, Empty, Empty])", false, -1, "complete"},
    {"AS_ApplyUpdates", R"(["dsp", Empty, 2, Empty, Empty])", false, 2, "complete"},
    {"AS_ApplyUpdates", R"(["dsp", Empty, 5, Empty, Empty])", true, 0, "abort"},
    {"AS_GetRecords", R"(["dsp", -1, Empty, 0, "", Empty, Empty])", false, 0, "complete"},
    {"AS_GetRecords", R"(["dsp", -1, Empty, 0, "", Empty, Empty])", true, 0, "complete"},
    {"AS_DataRequest", R"(["dsp", 1])", false, 0, ""},
    {"AS_DataRequest", R"(["dsp", 1])", true, 0, ""},
    {"AS_GetProviderNames", "[]", false, 0, "complete"},
    {"AS_GetParams", R"(["dsp", Empty])", true, 0, "complete"},
    {"AS_GetParams", R"(["dspNada", Empty])", false, 0, "complete"},
    {"AS_RowRequest", R"(["dsp", Empty, 0, Empty])", true, 0, "complete"},
    {"AS_Execute", R"(["dsp", "", Empty, Empty])", true, 0, "complete"},
};

class VoteTest : public ::testing::TestWithParam<VoteCase> {};

TEST_P(VoteTest, VotesAfterTheOperationAndReturnsItsFailureWithTheDescription) {
  const VoteCase& c = GetParam();
  TScriptedProvider::fail = c.providerFails;
  TScriptedProvider::reportedErrors = c.reportedErrors;
  const bool unknownProvider = std::string(c.args).find("dspNada") != std::string::npos;
  // With a context and AutoComplete on; with AutoComplete off; with no context.
  for (int mode = 0; mode < 3; ++mode) {
    SCOPED_TRACE(mode);
    TInstalledObjectContext installed;
    TComPtr<com::IDispatch> server = com::CreateOleObject("QarTeste.Votos");
    EXPECT_TRUE(TdmVotos::last->AutoComplete());
    if (mode < 2) {
      EXPECT_EQ(server.As<com::IObjectControl>()->Activate(), com::kS_OK);
    }
    TdmVotos::last->SetAutoComplete(mode != 1);
    testing::TScriptCall call;
    const Variant result = call.Call(*server, c.operation, c.args);
    EXPECT_EQ(call.failure, c.providerFails ? "falhou" : unknownProvider ? "Provider not found: dspNada" : "");
    if (call.failure.empty() && std::string(c.operation) != "AS_Execute") {
      EXPECT_EQ(result, std::string(c.operation) == "AS_GetProviderNames" ? V(R"(["dsp"])") : Variant("ok"));
    }
    if (call.failure.empty() && std::string(c.operation) == "AS_ApplyUpdates") {
      EXPECT_EQ(call.args[3], Variant(c.reportedErrors));
    }
    // The instrumented call votes complete before every operation, whatever AutoComplete says.
    const std::string after = mode == 0 && *c.votes != '\0' ? std::string(",") + c.votes : "";
    EXPECT_EQ(installed.context->votes, mode == 2 ? "" : "complete" + after);
  }
}

INSTANTIATE_TEST_SUITE_P(Operations, VoteTest, ::testing::ValuesIn(kVoteCases));

TEST(MtsDataModuleTest, AFailingVoteIsTheOperationsFailureAndApplyUpdatesThenAborts) {
  TInstalledObjectContext installed;
  installed.context->failWith = com::kCONTEXT_E_NOCONTEXT;
  TdmVotos module;
  module.Activate();
  TScriptedProvider::fail = false;
  Variant result;
  EXPECT_EQ(module.AS_GetProviderNames(result), com::kCONTEXT_E_NOCONTEXT);
  std::int32_t errorCount = 0;
  Variant owner;
  EXPECT_EQ(module.AS_ApplyUpdates("dsp", Variant(), 0, errorCount, owner, result), com::kCONTEXT_E_NOCONTEXT);
  EXPECT_EQ(com::GetErrorInfo()->Description, com::ResultText(com::kCONTEXT_E_NOCONTEXT));
  EXPECT_EQ(installed.context->votes, "complete,complete,abort");
  // A failed operation hands back no stale value.
  TScriptedProvider::fail = true;
  installed.context->failWith = com::kS_OK;
  result = "stale";
  EXPECT_EQ(module.AS_GetParams("dsp", owner, result), com::kE_FAIL);
  EXPECT_TRUE(result.IsEmpty());
}

TEST(MtsDataModuleTest, ActivationHoldsTheContextUntilDeactivationAndPoolingIsAllowed) {
  TInstalledObjectContext installed;
  TdmVotos module;
  EXPECT_EQ(module.ObjectContext(), nullptr);
  module.SetComplete();  // no context: nothing
  EXPECT_EQ(module.Activate(), com::kS_OK);
  EXPECT_EQ(module.ObjectContext().Get(), installed.context.Get());
  module.SetAbort();
  module.Deactivate();
  EXPECT_EQ(module.ObjectContext(), nullptr);
  module.SetAbort();
  EXPECT_EQ(module.CanBePooled(), -1);
  EXPECT_EQ(installed.context->votes, "abort");
}

}  // namespace
}  // namespace qar::automation
