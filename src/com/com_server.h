// The in-process server on Windows: the work of the four server exports, and the
// bridge that shows model objects to the system's COM (implemented in
// com_server_win32.cpp; a server DLL adds the exports with qar_com_server_dll()).
#pragma once

#include "framework/interface.h"

namespace qar::com {

// Makes the system's view of a model interface: `modelInterface` is the counted
// reference the model object's QueryInterface gave for the registered identifier (the
// maker takes it over); `owner` is the system IUnknown that stands for the object.
// Returns a counted system pointer of the interface's system layout.
using TNativeBridgeMaker = void* (*)(void* modelInterface, void* owner);

// Lets the system query model interface `iid`: the answer is the bridge `make`
// builds (see TNativeBridge in com/server/native_bridge_win32.h), never the model's
// own pointer. Registering an identifier again keeps the first maker.
void RegisterNativeInterface(const TGUID& iid, TNativeBridgeMaker make);

// DllGetClassObject: the class factory of a class registered in ComClassManager.
HResult ServerGetClassObject(const TGUID& classId, const TGUID& iid, void** object);
// DllCanUnloadNow: kS_OK when the system holds nothing of this server (no object,
// factory or interface bridge alive) and no LockServer(TRUE) is outstanding.
HResult ServerCanUnloadNow();
// DllRegisterServer / DllUnregisterServer: every class of ComClassManager under
// HKEY_CLASSES_ROOT (CLSID with InprocServer32 and ThreadingModel, ProgID).
HResult ServerRegister();
HResult ServerUnregister();

}  // namespace qar::com
