// The screen a host installs through the binary interface, and the last error report it reads.
#include <memory>

#include "com/ComSupport.h"
#include "ui/ErrorHandling.h"
#include "ui/UserInterface.h"

namespace varn::com {

namespace {

using Bstr = std::unique_ptr<OLECHAR, decltype(&SysFreeString)>;
Bstr Text(const std::string& s) { return Bstr(NewBstr(s), &SysFreeString); }

class clsHostScreen : public IUserInterface {
 public:
  explicit clsHostScreen(const VARNSCREEN& table) : mTable(table) {}

  int MsgBox(const std::string& sPrompt, int nStyle, const std::string& sTitle) override {
    return mTable.MsgBox(mTable.pContext, Text(sPrompt).get(), nStyle, Text(sTitle).get());
  }
  void SetMousePointer(int nPointer) override {
    mnPointer = nPointer;
    if (mTable.SetMousePointer) mTable.SetMousePointer(mTable.pContext, nPointer);
  }
  int MousePointer() const override { return mnPointer; }
  void DoEvents() override {
    if (mTable.DoEvents) mTable.DoEvents(mTable.pContext);
  }
  void DrawProgress(const ProgressView& view) override {
    if (!mTable.DrawProgress) return;
    mTable.DrawProgress(mTable.pContext, Text(view.sCaption).get(), Text(view.sNote).get(), view.sngMin, view.sngMax,
                        view.sngValue, VBool(view.bVisible));
  }

 private:
  VARNSCREEN mTable;
  int mnPointer = vbDefault;
};

}  // namespace

}  // namespace varn::com

using namespace varn::com;

extern "C" {

HRESULT VarnInstallScreen(const VARNSCREEN* pScreen) {
  if (pScreen && (pScreen->cbSize < sizeof(VARNSCREEN) || !pScreen->MsgBox)) return E_INVALIDARG;
  return Guarded([&] {
    varn::SetScreen(pScreen ? std::make_shared<clsHostScreen>(*pScreen) : nullptr);
    return S_OK;
  });
}

HRESULT VarnGetLastError(int32_t* plNumber, BSTR* psSource, BSTR* psDescription) {
  return Guarded([&] {
    const varn::ErrorReport& report = varn::LastErrorReport();
    Bstr source = Text(report.sSource), description = Text(report.sDescription);
    if (plNumber) *plNumber = report.lNumber;
    if (psSource) *psSource = source.release();
    if (psDescription) *psDescription = description.release();
    return S_OK;
  });
}

}  // extern "C"
