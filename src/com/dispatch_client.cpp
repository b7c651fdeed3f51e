#include "com/dispatch_client.h"

#include <string>

#include "com/class_manager.h"
#include "com/factory.h"

namespace qar::com {

TComPtr<IDispatch> CreateOleObject(std::string_view progId) {
  const TFactoryRef factory = ComClassManager().GetFactoryFromProgID(progId);
  if (factory == nullptr)
    throw EOleError(kREGDB_E_CLASSNOTREG, "Invalid class string: " + std::string(progId));
  return factory->CreateComObject().As<IDispatch>();
}

Variant CallByName(IDispatch& object, std::string_view name, std::vector<Variant> args,
                   std::uint16_t flags) {
  const std::string member(name);
  DispId id = kDispIdUnknown;
  const HResult found = object.GetIDsOfNames(TGUID{}, &member, 1, 0, &id);
  if (Failed(found)) throw EOleError(found, ResultText(found) + ": " + member);

  TDispArgs dispArgs(std::move(args));
  Variant result;
  TExcepInfo excepInfo;
  std::uint32_t argErr = 0;
  const HResult called =
      object.Invoke(id, TGUID{}, 0, flags, dispArgs.Params(), &result, &excepInfo, &argErr);
  // A record without a failure code still tells of a failure.
  if (called == kDISP_E_EXCEPTION)
    throw EOleException(Failed(excepInfo.SCode) ? excepInfo.SCode : kE_FAIL, excepInfo.Description,
                        excepInfo.Source);
  OleCheck(called);
  return result;
}

}  // namespace qar::com
