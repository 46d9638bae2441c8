#include "ui/UserInterface.h"

#include <exception>

#include "ui/TerminalUI.h"

namespace varn {

namespace {
// Never destroyed: objects that end during the program's exit still report to it.
std::shared_ptr<IUserInterface>& CurrentScreen() {
  static auto* pScreen = new std::shared_ptr<IUserInterface>();
  return *pScreen;
}
}  // namespace

// Chosen when first needed, not before: a host that installs its own screen never loads the windows.
IUserInterface& Screen() {
  std::shared_ptr<IUserInterface>& pScreen = CurrentScreen();
  if (!pScreen) pScreen = LoadWindowScreen();
  if (!pScreen) pScreen = std::make_shared<clsTerminalUI>();
  return *pScreen;
}

clsHourglass::clsHourglass(eOnEnd eEnd)
    : meEnd(eEnd), mnFound(Screen().MousePointer()), mnUncaught(std::uncaught_exceptions()) {
  Screen().SetMousePointer(vbHourglass);
}

clsHourglass::~clsHourglass() {
  bool bReturned = std::uncaught_exceptions() == mnUncaught;
  if (meEnd == enuRestoreAlways || (meEnd == enuRestoreOnReturn && bReturned)) Restore();
}

void clsHourglass::Restore() { Screen().SetMousePointer(mnFound); }

std::shared_ptr<IUserInterface> SetScreen(std::shared_ptr<IUserInterface> pScreen) {
  std::swap(CurrentScreen(), pScreen);
  return pScreen;
}

}  // namespace varn
