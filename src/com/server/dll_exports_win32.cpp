// The four exports of an in-process server DLL. Linked into each server DLL (not a
// static library member, so the linker always keeps them); com_server.def exports them.
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <algorithm>
#include <iterator>

#include "com/com_server.h"

namespace {
qar::TGUID ToModel(REFGUID guid) {
  qar::TGUID result;
  result.D1 = guid.Data1;
  result.D2 = guid.Data2;
  result.D3 = guid.Data3;
  std::copy(std::begin(guid.Data4), std::end(guid.Data4), std::begin(result.D4));
  return result;
}
}  // namespace

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  return qar::com::ServerGetClassObject(ToModel(rclsid), ToModel(riid), ppv);
}

STDAPI DllCanUnloadNow() { return qar::com::ServerCanUnloadNow(); }

STDAPI DllRegisterServer() { return qar::com::ServerRegister(); }

STDAPI DllUnregisterServer() { return qar::com::ServerUnregister(); }
