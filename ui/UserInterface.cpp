#include "ui/UserInterface.h"

#include <exception>

#include "ui/TerminalUI.h"

namespace varn {

namespace {
// Never destroyed: objects that end during the program's exit still report to it.
std::shared_ptr<IUserInterface>& CurrentScreen() {
  static auto* pScreen = new std::shared_ptr<IUserInterface>(std::make_shared<clsTerminalUI>());
  return *pScreen;
}
}  // namespace

IUserInterface& Screen() { return *CurrentScreen(); }

clsHourglass::clsHourglass(eOnEnd eEnd) : meEnd(eEnd), mnUncaught(std::uncaught_exceptions()) {
  Screen().SetMousePointer(vbHourglass);
}

clsHourglass::~clsHourglass() {
  bool bReturned = std::uncaught_exceptions() == mnUncaught;
  if (meEnd == enuRestoreAlways || (meEnd == enuRestoreOnReturn && bReturned)) Restore();
}

void clsHourglass::Restore() { Screen().SetMousePointer(vbDefault); }

std::shared_ptr<IUserInterface> SetScreen(std::shared_ptr<IUserInterface> pScreen) {
  std::swap(CurrentScreen(), pScreen);
  return pScreen;
}

}  // namespace varn
