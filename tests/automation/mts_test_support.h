// For tests of transactional modules: a context that records each vote, in order,
// and a client that calls a module by name as a script does.
#pragma once

#include <string>
#include <vector>

#include "com/com_object.h"
#include "com/dispatch_client.h"
#include "com/object_context.h"
#include "variant_text.h"

namespace qar::automation::testing {

// Votes are "complete" and "abort", joined by commas in `votes`; each answers `failWith`.
class TRecordingObjectContext : public com::TImplements<com::TComObject, com::IObjectContext> {
 public:
  HResult SetComplete() override { return Vote("complete"); }
  HResult SetAbort() override { return Vote("abort"); }
  HResult Vote(const char* vote) {
    votes += (votes.empty() ? "" : ",") + std::string(vote);
    return failWith;
  }

  std::string votes;
  HResult failWith = com::kS_OK;
};

// Makes `context` every activation's context while it exists, as a transactional
// host would.
class TInstalledObjectContext {
 public:
  TInstalledObjectContext()
      : previous_(com::SetObjectContextProvider([context = context] { return TComPtr<com::IObjectContext>(context); })) {}
  ~TInstalledObjectContext() { com::SetObjectContextProvider(std::move(previous_)); }

  TComPtr<TRecordingObjectContext> context = com::NewComObject<TRecordingObjectContext>();

 private:
  com::TObjectContextProvider previous_;
};

// Calls `member` of `server` with the arguments of `args` (variant text) held in
// variables, so each goes by reference as a script sends them; afterwards `args`
// holds what the member wrote back. A failure comes back as its description.
struct TScriptCall {
  Variant Call(com::IDispatch& server, const std::string& member, const std::string& argsText) {
    args = V(argsText).ArrayItems();
    std::vector<Variant> refs;
    for (Variant& arg : args) refs.push_back(Variant::ByRef(arg));
    failure.clear();
    try {
      return com::CallByName(server, member, std::move(refs));
    } catch (const com::EOleError& error) {
      failure = error.what();
      return Variant();
    }
  }
  std::vector<Variant> args;
  std::string failure;
};

}  // namespace qar::automation::testing
