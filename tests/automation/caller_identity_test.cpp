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

struct IdentityCase {
  const char* name;
  std::vector<Variant> args;  // in call order
  std::uint8_t kind;
  std::string text;
  std::uint32_t argsLeft;
};

TEST(CallerIdentityTest, TheIdentityIsFoundCutAndRemovedFromTheArguments) {
  const std::string x29(29, 'x');
  Variant variable = kBasic + x29;
  const IdentityCase cases[] = {
      {"no arguments", {}, 0, "", 0},
      {"basic, 29 characters", {kBasic + x29}, 3, x29, 0},
      {"extended, 46: database key", {kExtended + kFields, "a"}, 5, kFields, 1},
      {"extended, 45", {kExtended + kFields.substr(0, 45)}, 4, kFields.substr(0, 45), 0},
      {"extended, 47", {kExtended + kFields + "z"}, 4, kFields + "z", 0},
      {"60 characters cut to 50", {kExtended + std::string(60, 'y')}, 4, std::string(50, 'y'), 0},
      {"prefix alone", {kBasic}, 3, "", 0},
      {"not a string", {42, "a"}, 0, "", 2},
      {"another prefix", {"\xAB%\xBB" + x29}, 0, "", 1},
      {"identity third", {"a", "b", kBasic + x29}, 0, "", 3},
      {"a script variable (by reference) is an ordinary argument", {Variant::ByRef(variable)}, 0, "", 1},
      {"second with 0 as connection", {0, kBasic + x29, "a"}, 3, x29, 1},
      {"second with Null as connection", {Variant::Null(), kBasic + x29}, 3, x29, 0},
  };
  for (const IdentityCase& c : cases) {
    SCOPED_TRACE(c.name);
    com::TDispArgs args(c.args);
    CallContext call;
    ExtractCallerIdentity(call, args.Params());
    EXPECT_EQ(call.IdentityKind, c.kind);
    EXPECT_EQ(call.IdentityText, c.text);
    EXPECT_EQ(args.Params().ArgCount, c.argsLeft);
    EXPECT_EQ(call.ClientConnection, nullptr);
  }
}

TEST(CallerIdentityTest, TheConnectionArgumentIsAConnectionObjectOrNothing) {
  TADOConnection connection;
  const std::string identity = kBasic + "\x7F\x00\x00\x01" + "HOST";
  {
    Variant held = ConnectionArgument(connection);  // a script's variable: by reference
    com::TDispArgs args{Variant::ByRef(held), identity, "a"};
    CallContext call;
    ExtractCallerIdentity(call, args.Params());
    EXPECT_EQ(call.ClientConnection, connection.ConnectionObject());
    EXPECT_EQ(args.Params().ArgCount, 1u);
    EXPECT_EQ(args[2], Variant("a"));
  }
  // A plain number (an address, once) or any other object is refused and nothing is removed.
  const Variant otherObject =
      Variant::FromInterface(TComPtr<IUnknown>(com::CreateOleObject("QarTeste.Servidor").Get()), kVarDispatch);
  for (const Variant& wrong : {Variant(12345678), Variant("0x1234"), otherObject}) {
    com::TDispArgs args{wrong, identity};
    CallContext call;
    try {
      ExtractCallerIdentity(call, args.Params());
      ADD_FAILURE() << "accepted type " << wrong.VarType();
    } catch (const com::EOleError& error) {
      EXPECT_EQ(error.Code(), com::kDISP_E_TYPEMISMATCH);
    }
    EXPECT_EQ(args.Params().ArgCount, 2u);
  }
}

TEST(CallerIdentityTest, NamedArgumentsAreNeverTaken) {
  com::TDispArgs args{kBasic + "abc"};
  com::DispId named = com::kDispIdPropertyPut;
  args.Params().NamedArgs = &named;
  args.Params().NamedArgCount = 1;
  CallContext call;
  ExtractCallerIdentity(call, args.Params());
  EXPECT_EQ(call.IdentityKind, kIdentityNone);
  EXPECT_EQ(args.Params().ArgCount, 1u);
}

TEST(CallerIdentityTest, FieldsAndAddress) {
  EXPECT_EQ(IdentityField(kFields, kHostField), "PDV01          ");
  EXPECT_EQ(IdentityField(kFields, kDatabaseKeyField), "211  ");
  EXPECT_EQ(IdentityField("abcdefgh", kHostField), "efgh");
  EXPECT_EQ(IdentityField("abc", kHostField), "");
  EXPECT_EQ(FormatIPv4(kFields), "192.168.0.10");
  EXPECT_EQ(FormatIPv4("\xFF"), "255.0.0.0");
  EXPECT_EQ(FormatIPv4(""), "0.0.0.0");
}

}  // namespace
}  // namespace qar::automation
