// The in-process server on Windows: the work of the four server exports, and the
// bridge that shows model objects to the system's COM (implemented in
// com_server_win32.cpp; a server DLL adds the exports with qar_com_server_dll()).
#pragma once

#include "framework/interface.h"

namespace qar::com {

// Marks model interface `iid` as laid out like the system's interface of the same
// identifier (IUnknown's three operations first, then its own, no model types in
// its signatures): a system query for it is answered with the model's pointer.
void RegisterNativeInterface(const TGUID& iid);

// DllGetClassObject: the class factory of a class registered in ComClassManager.
HResult ServerGetClassObject(const TGUID& classId, const TGUID& iid, void** object);
// DllCanUnloadNow: kS_OK when no object of this server is alive or locked.
HResult ServerCanUnloadNow();
// DllRegisterServer / DllUnregisterServer: every class of ComClassManager under
// HKEY_CLASSES_ROOT (CLSID with InprocServer32 and ThreadingModel, ProgID).
HResult ServerRegister();
HResult ServerUnregister();

}  // namespace qar::com
