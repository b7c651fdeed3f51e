// For tests of automation calls: an event list and a context that records each vote in it.
#pragma once

#include <string>
#include <utility>

#include "automation/VCLCom.h"
#include "com/com_object.h"
#include "com/object_context.h"

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

// Makes `context` the context of every activation of `factory`'s objects while it
// exists, as a transactional host would.
class TInstalledObjectContext {
 public:
  explicit TInstalledObjectContext(TVCLAutoObjectFactory& factory)
      : factory_(factory),
        previous_(std::exchange(factory.Environment().objectContext,
                                [c = context] { return TComPtr<com::IObjectContext>(c); })) {}
  ~TInstalledObjectContext() { factory_.Environment().objectContext = std::move(previous_); }
  TComPtr<TRecordingObjectContext> context = com::NewComObject<TRecordingObjectContext>();

 private:
  TVCLAutoObjectFactory& factory_;
  TAutomationEnvironment::TObjectContextProvider previous_;
};

}  // namespace qar::automation::testing
