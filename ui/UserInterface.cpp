#include "ui/UserInterface.h"

#include "ui/TerminalUI.h"

namespace varn {

namespace {
std::shared_ptr<IUserInterface>& CurrentScreen() {
  static std::shared_ptr<IUserInterface> pScreen = std::make_shared<clsTerminalUI>();
  return pScreen;
}
}  // namespace

IUserInterface& Screen() { return *CurrentScreen(); }

std::shared_ptr<IUserInterface> SetScreen(std::shared_ptr<IUserInterface> pScreen) {
  std::swap(CurrentScreen(), pScreen);
  return pScreen;
}

}  // namespace varn
