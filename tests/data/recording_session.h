// A driver session that records what reaches it, for tests without a database server.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/connection_object.h"
#include "data/data_error.h"
#include "data/driver_session.h"

namespace qar::testing {

struct RecordedCall {
  std::string text;
  std::vector<TDriverParameter> parameters;
  bool procedure = false;
  std::optional<std::size_t> maxRows;
};

struct Recording {
  std::vector<RecordedCall> calls;
  std::vector<std::string> connectionStrings;
  std::string failWith;       // statements fail with this message when set
  std::string refuseConnect;  // connects fail with this message when set
  TDriverResult result;       // what each statement returns
};

class RecordingSession : public TDriverSession {
 public:
  explicit RecordingSession(std::shared_ptr<Recording> recording) : recording_(std::move(recording)) {}
  std::string DbmsName() override { return "Oracle"; }
  TDriverResult Execute(const std::string& statement, std::vector<TDriverParameter>& parameters,
                        std::optional<std::size_t> maxRows) override {
    recording_->calls.push_back({statement, parameters, false, maxRows});
    if (!recording_->failWith.empty()) throw EDataError(recording_->failWith, "42000", 208);
    TDriverResult result = recording_->result;
    if (maxRows && result.rows.size() > *maxRows) result.rows.resize(*maxRows);
    return result;
  }
  TDriverResult ExecuteProcedure(const std::string& name, std::vector<TDriverParameter>& parameters) override {
    recording_->calls.push_back({name, parameters, true, std::nullopt});
    if (!recording_->failWith.empty()) throw EDataError(recording_->failWith, "42000", 2812);
    for (auto& parameter : parameters)
      if (parameter.direction == pdOutput) parameter.value = Variant(99);
    return {};
  }
  void BeginTransaction() override { recording_->calls.push_back({"<begin>", {}, false, std::nullopt}); }
  void Commit() override { recording_->calls.push_back({"<commit>", {}, false, std::nullopt}); }
  void Rollback() override { recording_->calls.push_back({"<rollback>", {}, false, std::nullopt}); }

 private:
  std::shared_ptr<Recording> recording_;
};

inline TConnectionObject::TSessionFactory RecordingFactory(std::shared_ptr<Recording> recording) {
  return [recording](const std::string& connectionString) -> std::unique_ptr<TDriverSession> {
    recording->connectionStrings.push_back(connectionString);
    if (!recording->refuseConnect.empty()) throw EDataError(recording->refuseConnect, "08001", 17);
    return std::make_unique<RecordingSession>(recording);
  };
}

}  // namespace qar::testing
