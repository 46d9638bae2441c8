// Registration of the in-process server's classes: "key=value" lines in the user's registry
// file ($XDG_CONFIG_HOME/varnlogimp/registry, or ~/.config/varnlogimp/registry), through
// which a host finds the library of a class or ProgID:
//   CLSID/{...}=VarnLogImp.clsLogAnalysis        CLSID/{...}/InprocServer32=/path/libVarnLogImp.so
//   CLSID/{...}/ProgID=VarnLogImp.clsLogAnalysis CLSID/{...}/TypeLib={LIBID}  CLSID/{...}/Version=2.1
//   VarnLogImp.clsLogAnalysis/CLSID={...}        TypeLib/{LIBID}/2.1=Varn Log Import Lib
//   TypeLib/{LIBID}/2.1/409=/path/libVarnLogImp.so
// A value runs to the end of its line, blanks included. Lines of other programs stay as they are.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "com/VarnLogProcess.h"

namespace varn {

struct ServedClass {
  const char* sName;
  const CLSID* pClsid;
};
inline constexpr ServedClass kServedClasses[] = {
    {"clsLogAnalysis", &CLSID_clsLogAnalysis},
    {"clsConnection", &CLSID_clsConnection},
    {"clsItemGoods", &CLSID_clsItemGoods},
};

// "{683949D4-9150-4AEA-A2E4-98E533B88A6F}".
std::string GuidText(const GUID& guid);

// Raises errPathNotFound when neither XDG_CONFIG_HOME nor HOME names an absolute folder.
std::filesystem::path RegistryFilePath();

// The lines that register the classes served by the library at sLibraryPath, in file order.
std::vector<std::pair<std::string, std::string>> RegistrationEntries(const std::string& sLibraryPath);

// Both answer the registry file and print nothing: the caller says what was done.
// Writes the entries, replacing any earlier ones under the same keys; raises errInvalidCall for
// a library path holding a control character, errPathNotFound when the file cannot be written
// (it is then left as it was). A rewritten file keeps its permission bits.
std::filesystem::path RegisterServer(const std::string& sLibraryPath);
// Removes exactly the entries' keys. The file is left untouched when it holds none of them.
struct Unregistration {
  std::filesystem::path file;
  size_t nRemoved;  // 0: nothing to remove, or no registry file
};
Unregistration UnregisterServer();

}  // namespace varn
