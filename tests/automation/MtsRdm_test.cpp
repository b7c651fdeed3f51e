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

using testing::gEvents;
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

TEST(MtsDataModuleTest, VotesAfterTheOperationAndReturnsItsFailureWithTheDescription) {
  const struct {
    const char* operation;
    const char* args;
    bool providerFails;
    std::int32_t reportedErrors;
    const char* vote;  // after the operation, with a context and AutoComplete on
  } cases[] = {
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
  for (const auto& c : cases) {
    const std::string operation = c.operation;
    TScriptedProvider::fail = c.providerFails;
    TScriptedProvider::reportedErrors = c.reportedErrors;
    // With a context and AutoComplete on; with AutoComplete off; with no context.
    for (int mode = 0; mode < 3; ++mode) {
      SCOPED_TRACE(operation + c.args + " " + std::to_string(c.reportedErrors) + ", mode " + std::to_string(mode));
      TInstalledObjectContext installed;
      TComPtr<com::IDispatch> server = com::CreateOleObject("QarTeste.Votos");
      if (mode < 2) server.As<com::IObjectControl>()->Activate();
      TdmVotos::last->SetAutoComplete(mode != 1);
      gEvents.clear();
      testing::TScriptCall call;
      const Variant result = call.Call(*server, c.operation, c.args);
      const bool unknownProvider = std::string(c.args).find("dspNada") != std::string::npos;
      EXPECT_EQ(call.failure, c.providerFails ? "falhou" : unknownProvider ? "Provider not found: dspNada" : "");
      if (call.failure.empty() && operation != "AS_Execute") {
        EXPECT_EQ(result, operation == "AS_GetProviderNames" ? V(R"(["dsp"])") : Variant("ok"));
      }
      if (call.failure.empty() && operation == "AS_ApplyUpdates") {
        EXPECT_EQ(call.args[3], Variant(c.reportedErrors));
      }
      // The instrumented call votes complete before every operation, whatever AutoComplete says.
      EXPECT_EQ(gEvents, mode == 2 ? "" : mode == 1 || !*c.vote ? "complete" : std::string("complete,") + c.vote);
    }
  }
}

TEST(MtsDataModuleTest, TheContextLivesFromActivationToDeactivationAndAFailingVoteIsTheOperationsFailure) {
  TInstalledObjectContext installed;
  TdmVotos module;
  EXPECT_TRUE(module.AutoComplete());
  module.SetComplete();  // no context yet: nothing
  EXPECT_EQ(module.Activate(), com::kS_OK);
  EXPECT_EQ(module.ObjectContext().Get(), installed.context.Get());
  gEvents.clear();
  installed.context->failWith = com::kCONTEXT_E_NOCONTEXT;
  TScriptedProvider::fail = false;
  TScriptedProvider::reportedErrors = 0;
  Variant result;
  EXPECT_EQ(module.AS_GetProviderNames(result), com::kCONTEXT_E_NOCONTEXT);
  std::int32_t errorCount = 0;
  Variant owner;
  EXPECT_EQ(module.AS_ApplyUpdates("dsp", Variant(), 0, errorCount, owner, result), com::kCONTEXT_E_NOCONTEXT);
  EXPECT_EQ(com::GetErrorInfo()->Description, com::ResultText(com::kCONTEXT_E_NOCONTEXT));
  // A failed operation hands back no stale value.
  TScriptedProvider::fail = true;
  installed.context->failWith = com::kS_OK;
  result = "stale";
  EXPECT_EQ(module.AS_GetParams("dsp", owner, result), com::kE_FAIL);
  EXPECT_TRUE(result.IsEmpty());
  module.Deactivate();
  EXPECT_EQ(module.ObjectContext(), nullptr);
  module.SetAbort();
  EXPECT_EQ(gEvents, "complete,complete,abort,complete");
}

}  // namespace
}  // namespace qar::automation
