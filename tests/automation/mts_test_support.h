// For tests of automation calls: an event list, a context that records each vote in
// it, and a client that calls a module by name as a script does.
#pragma once

#include <string>
#include <vector>

#include "com/com_object.h"
#include "com/dispatch_client.h"
#include "com/object_context.h"
#include "variant_text.h"

namespace qar::automation::testing {

// What the recording pieces saw, in order, joined by commas.
inline std::string gEvents;
inline void Event(const std::string& event) { gEvents += (gEvents.empty() ? "" : ",") + event; }

// Votes "complete" and "abort" as events; each answers `failWith`.
class TRecordingObjectContext : public com::TImplements<com::TComObject, com::IObjectContext> {
 public:
  HResult SetComplete() override { return Vote("complete"); }
  HResult SetAbort() override { return Vote("abort"); }
  HResult Vote(const char* vote) {
    Event(vote);
    return failWith;
  }
  HResult failWith = com::kS_OK;
};

// Makes `context` every activation's context while it exists, as a transactional host would.
class TInstalledObjectContext {
 public:
  TInstalledObjectContext()
      : previous_(com::SetObjectContextProvider([c = context] { return TComPtr<com::IObjectContext>(c); })) {}
  ~TInstalledObjectContext() { com::SetObjectContextProvider(std::move(previous_)); }
  TComPtr<TRecordingObjectContext> context = com::NewComObject<TRecordingObjectContext>();

 private:
  com::TObjectContextProvider previous_;
};

// Calls `member` with the arguments of `argsText` (variant text) held in variables, so
// each goes by reference as a script sends them; afterwards `args` holds what the
// member wrote back. A failure comes back as its description in `failure`.
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
