#include "ui/UserInterface.h"

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

clsHourglass::clsHourglass() { Screen().SetMousePointer(vbHourglass); }
clsHourglass::~clsHourglass() { Screen().SetMousePointer(vbDefault); }

std::shared_ptr<IUserInterface> SetScreen(std::shared_ptr<IUserInterface> pScreen) {
  std::swap(CurrentScreen(), pScreen);
  return pScreen;
}

}  // namespace varn
