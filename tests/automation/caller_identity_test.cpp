// Taking the caller identity (and a caller's connection) out of a call's arguments.
#include "automation/caller_identity.h"

#include <gtest/gtest.h>

#include "automation/connection_reference.h"
#include "com/dispatch_client.h"

namespace qar::automation {
namespace {

const std::string kBasic(kBasicIdentityPrefix);
const std::string kExtended(kExtendedIdentityPrefix);
// Address 192.168.0.10, host, application, operator and key at their positions: 46 characters.
const std::string kFields =
    std::string("\xC0\xA8\x00\x0A", 4) + "PDV01          " + "CAIXA     " + "MARIA       " + "211  ";

TEST(CallerIdentityTest, TheIdentityIsFoundCutAndRemovedFromTheArguments) {
  const std::string x29(29, 'x');
  TADOConnection connection;
  Variant variable = kBasic + x29;
  Variant connectionVariable = ConnectionArgument(connection);  // a script's variable: by reference
  const Variant otherObject =
      Variant::FromInterface(TComPtr<IUnknown>(com::CreateOleObject("QarTeste.Servidor").Get()), kVarDispatch);
  const struct {
    const char* name;
    std::vector<Variant> args;  // in call order
    std::uint32_t named;
    int kind;  // -1: refused (a type mismatch, nothing removed)
    std::string text;
    std::uint32_t argsLeft;
    bool connection;
  } cases[] = {
      {"no arguments", {}, 0, 0, "", 0, false},
      {"basic, 29 characters", {kBasic + x29}, 0, 3, x29, 0, false},
      {"extended, 46: database key", {kExtended + kFields, "a"}, 0, 5, kFields, 1, false},
      {"extended, 45", {kExtended + kFields.substr(0, 45)}, 0, 4, kFields.substr(0, 45), 0, false},
      {"extended, 47", {kExtended + kFields + "z"}, 0, 4, kFields + "z", 0, false},
      {"60 characters cut to 50", {kExtended + std::string(60, 'y')}, 0, 4, std::string(50, 'y'), 0, false},
      {"prefix alone", {kBasic}, 0, 3, "", 0, false},
      {"not a string", {42, "a"}, 0, 0, "", 2, false},
      {"another prefix", {"\xAB%\xBB" + x29}, 0, 0, "", 1, false},
      {"identity third", {"a", "b", kBasic + x29}, 0, 0, "", 3, false},
      {"in a script variable: an ordinary argument", {Variant::ByRef(variable)}, 0, 0, "", 1, false},
      {"named arguments are never taken", {kBasic + x29}, 1, 0, "", 1, false},
      {"connection object", {Variant::ByRef(connectionVariable), kBasic + x29, "a"}, 0, 3, x29, 1, true},
      {"0 as connection", {0, kBasic + x29, "a"}, 0, 3, x29, 1, false},
      {"Null as connection", {Variant::Null(), kBasic + x29}, 0, 3, x29, 0, false},
      {"a number (an address, once)", {12345678, kBasic + x29}, 0, -1, "", 2, false},
      {"a text as connection", {"a", kBasic + x29}, 0, -1, "", 2, false},
      {"another object as connection", {otherObject, kBasic + x29}, 0, -1, "", 2, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    com::TDispArgs args(c.args);
    com::DispId named = com::kDispIdPropertyPut;
    args.Params().NamedArgs = &named;
    args.Params().NamedArgCount = c.named;
    CallContext call;
    try {
      ExtractCallerIdentity(call, args.Params());
      EXPECT_EQ(call.IdentityKind, c.kind);
    } catch (const com::EOleError& error) {
      EXPECT_EQ(c.kind, -1);
      EXPECT_EQ(error.Code(), com::kDISP_E_TYPEMISMATCH);
    }
    EXPECT_EQ(call.IdentityText, c.text);
    EXPECT_EQ(args.Params().ArgCount, c.argsLeft);
    EXPECT_EQ(call.ClientConnection, c.connection ? connection.ConnectionObject() : nullptr);
  }
}

}  // namespace
}  // namespace qar::automation
