// _clsItemGoods: the goods record, creatable by hosts.
#include "com/ComSupport.h"
#include "com/Objects.h"

namespace varn::com {

namespace {

using Object = ComObject<_clsItemGoods, clsItemGoods>;

HRESULT get_TotalGoods(_clsItemGoods* This, double* pRetVal) {
  return Answer(pRetVal, [&] { return Object::Of(This).TotalGoods(); });
}

HRESULT put_Date_ID(_clsItemGoods* This, int32_t vData) {
  Object::Of(This).Date_ID(vData);
  return S_OK;
}

HRESULT get_Date_ID(_clsItemGoods* This, int32_t* pRetVal) {
  return Answer(pRetVal, [&] { return Object::Of(This).Date_ID(); });
}

HRESULT put_Session_ID(_clsItemGoods* This, int32_t vData) {
  Object::Of(This).Session_ID(vData);
  return S_OK;
}

HRESULT get_Session_ID(_clsItemGoods* This, int32_t* pRetVal) {
  return Answer(pRetVal, [&] { return Object::Of(This).Session_ID(); });
}

HRESULT SetUp(_clsItemGoods* This, BSTR sGoodsLine, VARIANT_BOOL* pRetVal) {
  return Answer(pRetVal, [&] { return VBool(Object::Of(This).SetUp(TextOf(sGoodsLine))); });
}

HRESULT DBUpdate(_clsItemGoods* This, int32_t eDBAction, VARIANT_BOOL* pRetVal) {
  return Answer(pRetVal, [&] { return VBool(Object::Of(This).DBUpdate(eDBAction)); });
}

const _clsItemGoodsVtbl kVtbl = {
    VARN_COM_DISPATCH_SLOTS(Object),
    &get_TotalGoods,
    &put_Date_ID,
    &get_Date_ID,
    &put_Session_ID,
    &get_Session_ID,
    &SetUp,
    &DBUpdate,
};

}  // namespace

_clsItemGoods* WrapGoods(std::shared_ptr<clsItemGoods> pGoods) {
  return Object::Wrap(&kVtbl, &IID__clsItemGoods, std::move(pGoods));
}

}  // namespace varn::com
