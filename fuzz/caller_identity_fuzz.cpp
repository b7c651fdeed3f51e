// A call's arguments as any client may send them (first byte: how many are named; the
// rest in the tests' variant notation, in call order; the text "@c" stands for a
// connection object and "@r" + text for a script variable holding the text): the
// identity taken out always has a known kind and at most 50 characters, and exactly
// 0, 1 or 2 leading positional arguments are removed.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <stdexcept>
#include <string>
#include <string_view>

#include "../tests/support/variant_text.h"
#include "automation/caller_identity.h"
#include "automation/connection_reference.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qar;
  if (size == 0) return 0;
  Variant list;
  TVariantTextReader reader(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1), 4);
  try {
    list = reader.Read();
  } catch (const std::invalid_argument&) {
    return 0;
  }
  if ((list.VarType() & kVarArray) == 0) return 0;

  TADOConnection connection;
  std::deque<Variant> variables;
  std::vector<Variant> args;
  for (const Variant& item : list.ArrayItems()) {
    const bool text = item.VarType() == kVarOleStr;
    if (text && item.AsString() == "@c") {
      args.push_back(automation::ConnectionArgument(connection));
    } else if (text && item.AsString().rfind("@r", 0) == 0) {
      variables.push_back(item.AsString().substr(2));
      args.push_back(Variant::ByRef(variables.back()));
    } else {
      args.push_back(item);
    }
  }
  com::TDispArgs dispArgs(args);
  com::TDispParams& params = dispArgs.Params();
  com::DispId named[2] = {com::kDispIdPropertyPut, 1};
  params.NamedArgCount = std::min<std::uint32_t>(data[0] % 3, params.ArgCount);
  params.NamedArgs = named;
  const std::uint32_t before = params.ArgCount;

  automation::CallContext call;
  try {
    automation::ExtractCallerIdentity(call, params);
  } catch (const com::EOleError& error) {
    // Only a refused connection argument, and then nothing is removed.
    QAR_FUZZ_CHECK(error.Code() == com::kDISP_E_TYPEMISMATCH && params.ArgCount == before);
    return 0;
  }
  const std::uint32_t removed = before - params.ArgCount;
  const std::uint8_t kind = call.IdentityKind;
  QAR_FUZZ_CHECK(kind == 0 || kind == 3 || kind == 4 || kind == 5);
  QAR_FUZZ_CHECK(call.IdentityText.size() <= 50);
  QAR_FUZZ_CHECK(removed <= 2 && (removed == 0) == (kind == 0));
  QAR_FUZZ_CHECK(params.ArgCount >= params.NamedArgCount);
  QAR_FUZZ_CHECK(kind != 5 || call.IdentityText.size() == 46);
  QAR_FUZZ_CHECK(kind == 0 || call.IdentityText.empty() ||
                 args[removed - 1].Deref().AsString().substr(3, 50) == call.IdentityText);
  QAR_FUZZ_CHECK(!call.ClientConnection || removed == 2);
  return 0;
}
