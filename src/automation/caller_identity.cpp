#include "automation/caller_identity.h"

#include <optional>

#include "automation/connection_reference.h"

namespace qar::automation {

namespace {

struct TFoundIdentity {
  std::uint8_t kind;
  std::string text;
};

// The identity an argument holds, if it is one.
std::optional<TFoundIdentity> IdentityOf(const Variant& argument) {
  if ((argument.VarType() & kVarTypeMask) != kVarOleStr) return std::nullopt;
  std::string text;
  try {
    text = argument.Deref().AsString();
  } catch (const EVariantError&) {
    return std::nullopt;  // a string type code without a text (an array of them)
  }
  const std::string_view prefix = std::string_view(text).substr(0, 3);
  const bool basic = prefix == kBasicIdentityPrefix;
  if (!basic && prefix != kExtendedIdentityPrefix) return std::nullopt;
  TFoundIdentity found{kIdentityBasic, text.substr(3, kMaxIdentityText)};
  if (!basic) {
    found.kind = found.text.size() == kDatabaseKeyIdentityLength ? kIdentityDatabaseKey : kIdentityOperator;
  }
  return found;
}

}  // namespace

std::string_view IdentityField(std::string_view identityText, TIdentityField field) {
  if (field.first >= identityText.size()) return {};
  return identityText.substr(field.first, field.width);
}

std::string FormatIPv4(std::string_view text) {
  std::string dotted;
  for (std::size_t i = 0; i < 4; ++i) {
    if (i > 0) dotted += '.';
    dotted += std::to_string(i < text.size() ? static_cast<unsigned char>(text[i]) : 0);
  }
  return dotted;
}

void ExtractCallerIdentity(CallContext& call, com::TDispParams& params) {
  call.IdentityKind = kIdentityNone;
  call.IdentityText.clear();
  call.ClientConnection.reset();
  if (params.Args == nullptr || params.NamedArgCount >= params.ArgCount) return;
  const std::uint32_t positional = params.ArgCount - params.NamedArgCount;
  const Variant* args = params.Args;
  const std::uint32_t first = params.ArgCount - 1;

  if (positional >= 2) {
    if (std::optional<TFoundIdentity> found = IdentityOf(args[first - 1])) {
      // Whatever the first argument holds, it is the connection argument.
      call.ClientConnection = ConnectionObjectOfArgument(args[first]);
      call.IdentityKind = found->kind;
      call.IdentityText = std::move(found->text);
      params.ArgCount -= 2;
      return;
    }
  }
  if (std::optional<TFoundIdentity> found = IdentityOf(args[first])) {
    call.IdentityKind = found->kind;
    call.IdentityText = std::move(found->text);
    params.ArgCount -= 1;
  }
}

}  // namespace qar::automation
