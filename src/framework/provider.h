// TCustomProvider: what a remote data module asks of a provider, whatever the provider serves.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "framework/component.h"
#include "framework/variant.h"

namespace qar {

// A request a provider refuses (unknown provider or parameter, malformed packet or
// delta, an operation the provider cannot do): the message says what and why.
class EProviderError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The operations a remote data module hands to one of its providers by name. Each
// throws what goes wrong (EProviderError for a refused request, the database's own
// error otherwise); the data module turns it into the call's failure. The forms of
// the values (data packets, deltas, parameter lists) belong to the concrete provider.
//
//   class TMyProvider : public TCustomProvider { ... overrides ... };
//   module.RegisterProvider(module.CreateComponent<TMyProvider>());   // named first
class TCustomProvider : public TComponent {
 public:
  std::string ClassName() const override { return "TCustomProvider"; }

  // Records: `count` of them (-1 all, 0 only the description of the fields); their
  // number in `recsOut`. `params` holds parameter values for the provider's statement.
  virtual Variant GetRecords(std::int32_t count, std::int32_t& recsOut, std::int32_t options,
                             const std::string& commandText, Variant& params, Variant& ownerData) = 0;
  // Applies a client's changes; `errorCount` is the number of rows that failed (-1
  // where the provider documents it). Returns the failed rows.
  virtual Variant ApplyUpdates(const Variant& delta, std::int32_t maxErrors, std::int32_t& errorCount,
                               Variant& ownerData) = 0;
  // The statement's parameters.
  virtual Variant GetParams(Variant& ownerData) = 0;
  // Re-reads the row(s) that `row` identifies.
  virtual Variant RowRequest(const Variant& row, std::int32_t requestType, Variant& ownerData) = 0;
  // Runs the provider's statement; output values come back in `params`.
  virtual void Execute(const std::string& commandText, Variant& params, Variant& ownerData) = 0;

  // A request of the server's own making: OnDataRequest's answer, Empty without a handler.
  virtual Variant DataRequest(const Variant& data) {
    return OnDataRequest ? OnDataRequest(*this, data) : Variant();
  }
  std::function<Variant(TCustomProvider& sender, const Variant& data)> OnDataRequest;
};

}  // namespace qar
