// Loading the windows plugin without linking Qt: the libraries the process has loaded tell which
// Qt it already holds and which file is our own, beside which the plugin lies.
#include <dlfcn.h>
#include <link.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "ui/UserInterface.h"

namespace varn {

namespace {

namespace fs = std::filesystem;

struct LoadedLibraries {
  uintptr_t nOwnCode = 0;
  std::string sOwnFile;  // the program or library holding nOwnCode
  std::string sQt6Core;  // as loaded, when it is
  std::string sOtherQt;  // the core library of another major version of Qt, when one is loaded
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

std::string Environment(const char* sName) {
  const char* sValue = std::getenv(sName);
  return sValue ? sValue : "";
}

// Whether something listens at a local socket (a path, or with a leading '@' an abstract name).
bool Listens(const std::string& sSocket) {
  sockaddr_un address{};
  if (sSocket.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, sSocket.data(), sSocket.size());
  if (sSocket[0] == '@') address.sun_path[0] = '\0';
  int nSocket = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (nSocket < 0) return false;
  socklen_t nLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + sSocket.size());
  bool bListens = connect(nSocket, reinterpret_cast<const sockaddr*>(&address), nLength) == 0;
  close(nSocket);
  return bListens;
}

// Whether something listens at a host's port, given a second to answer.
bool Listens(const std::string& sHost, int nPort) {
  addrinfo hints{}, *pFound = nullptr;
  hints.ai_socktype = SOCK_STREAM;
  if (getaddrinfo(sHost.c_str(), std::to_string(nPort).c_str(), &hints, &pFound) != 0) return false;
  bool bListens = false;
  for (addrinfo* p = pFound; p && !bListens; p = p->ai_next) {
    int nSocket = socket(p->ai_family, p->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, p->ai_protocol);
    if (nSocket < 0) continue;
    pollfd wait{nSocket, POLLOUT, 0};
    int nError = 0;
    socklen_t nSize = sizeof nError;
    bListens = (connect(nSocket, p->ai_addr, p->ai_addrlen) == 0 ||
                (errno == EINPROGRESS && poll(&wait, 1, 1000) == 1 &&
                 getsockopt(nSocket, SOL_SOCKET, SO_ERROR, &nError, &nSize) == 0 && nError == 0));
    close(nSocket);
  }
  freeaddrinfo(pFound);
  return bListens;
}

// An X display ("[host]:N[.S]") whose server listens: Qt ends the whole process when it cannot
// reach the display it is given, so a display left behind by a closed session must not count.
bool XServerListens(const std::string& sDisplay) {
  size_t nColon = sDisplay.rfind(':');
  if (nColon == std::string::npos) return false;
  std::string sHost = sDisplay.substr(0, nColon);
  int nNumber = std::atoi(sDisplay.c_str() + nColon + 1);
  if (!sHost.empty() && sHost != "unix") return Listens(sHost, 6000 + nNumber);
  std::string sSocket = "/tmp/.X11-unix/X" + std::to_string(nNumber);
  return Listens(sSocket) || Listens("@" + sSocket);
}

bool WaylandListens(const std::string& sDisplay) {
  if (sDisplay.starts_with("/")) return Listens(sDisplay);
  std::string sRuntime = Environment("XDG_RUNTIME_DIR");
  return !sRuntime.empty() && Listens(sRuntime + "/" + sDisplay);
}

// A display whose server answers; a platform named for Qt that needs none (offscreen) counts too.
bool HasDisplay() {
  std::string sPlatform = Environment("QT_QPA_PLATFORM");
  if (!sPlatform.empty() && !sPlatform.starts_with("xcb") && !sPlatform.starts_with("wayland")) return true;
  std::string sWayland = Environment("WAYLAND_DISPLAY"), sX = Environment("DISPLAY");
  return (!sWayland.empty() && WaylandListens(sWayland)) || (!sX.empty() && XServerListens(sX));
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
    sWhyNot = "there is no display (neither DISPLAY nor WAYLAND_DISPLAY names one that answers)";
    return nullptr;
  }
  std::error_code ec;
  fs::path folder = fs::weakly_canonical(loaded.sOwnFile, ec).parent_path();
  for (const fs::path& file : {folder / kWindowPlugin, folder / "varnlogimp" / kWindowPlugin,
                               folder / VARN_WINDOWS_FROM_PROGRAM / kWindowPlugin}) {
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
            ", its varnlogimp folder or " VARN_WINDOWS_FROM_PROGRAM " from there)";
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
