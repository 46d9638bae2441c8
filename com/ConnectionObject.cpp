// _clsConnection, and the open database connection it hands out (IUnknown only: hosts pass it
// around but have no function table to run statements through).
#include "com/ComSupport.h"
#include "com/Objects.h"

namespace varn::com {

namespace {

using Object = ComObject<_clsConnection, clsConnection>;
using DatabaseObject = ComObject<IUnknown, Connection>;

HRESULT get_IsConnected(_clsConnection* This, VARIANT_BOOL* pRetVal) {
  return Answer(pRetVal, [&] { return VBool(Object::Of(This).IsConnected()); });
}

HRESULT get_DBConnection(_clsConnection* This, IUnknown** pRetVal) {
  return Answer(pRetVal, [&] { return WrapDatabaseConnection(Object::Of(This).DBConnection()); });
}

HRESULT SignOn(_clsConnection* This, BSTR sDBPath, VARIANT_BOOL* pRetVal) {
  return Answer(pRetVal, [&] { return VBool(Object::Of(This).SignOn(TextOf(sDBPath))); });
}

const _clsConnectionVtbl kVtbl = {VARN_COM_DISPATCH_SLOTS(Object), &get_IsConnected, &get_DBConnection, &SignOn};
const IUnknownVtbl kDatabaseVtbl = {VARN_COM_UNKNOWN_SLOTS(DatabaseObject)};

}  // namespace

_clsConnection* WrapConnection(std::shared_ptr<clsConnection> pConnection) {
  return Object::Wrap(&kVtbl, &IID__clsConnection, std::move(pConnection));
}

IUnknown* WrapDatabaseConnection(std::shared_ptr<Connection> pConnection) {
  return DatabaseObject::Wrap(&kDatabaseVtbl, &IID_IUnknown, std::move(pConnection));
}

}  // namespace varn::com
