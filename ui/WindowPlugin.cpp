// Loading the windows plugin without linking Qt: the libraries the process has loaded tell which
// Qt it already holds and which file is our own, beside which the plugin lies.
#include <dlfcn.h>
#include <link.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "ui/UserInterface.h"

namespace varn {

namespace {

namespace fs = std::filesystem;

struct LoadedLibraries {
  uintptr_t nOwnCode = 0;
  std::string sOwnFile;   // the program or library holding nOwnCode
  std::string sQt6Core;   // as loaded, when it is
  std::string sOtherQt;   // the core library of another major version of Qt, when one is loaded
};

// libQt5Core.so.5, libQt7Core.so.7, ..., and Qt 4's libQtCore.so.4.
bool IsOtherQtCore(std::string_view sFile) {
  if (sFile.starts_with("libQtCore.so")) return true;
  bool bMajor = sFile.starts_with("libQt") && sFile.size() > 6 && std::isdigit(static_cast<unsigned char>(sFile[5]));
  return bMajor && sFile.substr(6).starts_with("Core.so") && sFile[5] != '6';
}

int Inspect(dl_phdr_info* pInfo, size_t, void* pData) {
  auto& loaded = *static_cast<LoadedLibraries*>(pData);
  std::string_view sName = pInfo->dlpi_name ? pInfo->dlpi_name : "";
  std::string_view sFile = sName.substr(sName.rfind('/') + 1);
  if (sFile.starts_with("libQt6Core.so")) loaded.sQt6Core = sName;
  if (IsOtherQtCore(sFile)) loaded.sOtherQt = sFile;
  for (int n = 0; n < pInfo->dlpi_phnum; ++n) {
    const ElfW(Phdr)& segment = pInfo->dlpi_phdr[n];
    uintptr_t nStart = pInfo->dlpi_addr + segment.p_vaddr;
    // The program itself has no name here.
    if (segment.p_type == PT_LOAD && loaded.nOwnCode - nStart < segment.p_memsz)
      loaded.sOwnFile = sName.empty() ? "/proc/self/exe" : std::string(sName);
  }
  return 0;
}

bool HasQtApplication(const std::string& sQt6Core) {
  if (sQt6Core.empty()) return false;
  void* pCore = dlopen(sQt6Core.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (!pCore) return false;
  // QCoreApplication::self, which QCoreApplication::instance() answers.
  auto* ppSelf = static_cast<void* const*>(dlsym(pCore, "_ZN16QCoreApplication4selfE"));
  bool bHas = ppSelf && *ppSelf;
  dlclose(pCore);
  return bHas;
}

bool HasDisplay() {
  for (const char* sName : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* sValue = std::getenv(sName);
    if (sValue && *sValue) return true;
  }
  return false;
}

// The plugin stays loaded once it made a screen: its Qt lives as long as the process.
IUserInterface* NewWindowScreen(std::string& sWhyNot) {
  LoadedLibraries loaded;
  loaded.nOwnCode = reinterpret_cast<uintptr_t>(&LoadWindowScreen);
  dl_iterate_phdr(&Inspect, &loaded);
  if (!loaded.sOtherQt.empty()) {
    sWhyNot = "the process holds " + loaded.sOtherQt + ", another Qt than the windows'";
    return nullptr;
  }
  if (!HasQtApplication(loaded.sQt6Core) && !HasDisplay()) {
    sWhyNot = "there is no display (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    return nullptr;
  }
  std::error_code ec;
  fs::path folder = fs::weakly_canonical(loaded.sOwnFile, ec).parent_path();
  for (const fs::path& file : {folder / kWindowPlugin, folder / "../lib/varnlogimp" / kWindowPlugin}) {
    if (!fs::exists(file, ec)) continue;
    void* pPlugin = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    void* pFactory = pPlugin ? dlsym(pPlugin, kWindowScreenFactory) : nullptr;
    if (!pFactory) {
      sWhyNot = "the windows cannot be loaded: " + std::string(dlerror());
      return nullptr;
    }
    IUserInterface* pScreen = reinterpret_cast<WindowScreenFactory>(pFactory)();
    if (!pScreen) sWhyNot = "the process's Qt application shows no windows";
    return pScreen;
  }
  sWhyNot = "the windows are not installed (no " + std::string(kWindowPlugin) + " in " + folder.string() +
            " or in ../lib/varnlogimp from there)";
  return nullptr;
}

}  // namespace

std::shared_ptr<IUserInterface> LoadWindowScreen(std::string* pWhyNot) {
  std::string sWhyNot;
  std::shared_ptr<IUserInterface> pScreen(NewWindowScreen(sWhyNot));
  if (pWhyNot) *pWhyNot = sWhyNot;
  return pScreen;
}

}  // namespace varn
