// The user's registry file: the server's lines written in, and taken out again.
#include "com/Registration.h"

#include <fmt/core.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <system_error>

#include "runtime/Error.h"
#include "runtime/Text.h"

namespace varn {

namespace {

constexpr const char* kProgIDPrefix = "VarnLogImp.";

std::string KeyOf(const std::string& sLine) { return sLine.substr(0, sLine.find('=')); }

std::vector<std::string> ReadLines(const std::filesystem::path& file) {
  std::vector<std::string> vLines;
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return vLines;
  std::ifstream in(file);
  if (!in) RaiseError(errPathNotFound, "Cannot read " + file.string());
  for (std::string sLine; std::getline(in, sLine);) vLines.push_back(sLine);
  return vLines;
}

// The other programs' lines: every line whose key is not one of the server's.
std::vector<std::string> ForeignLines(const std::filesystem::path& file) {
  std::set<std::string> ours;
  for (const auto& [sKey, sValue] : RegistrationEntries({})) ours.insert(sKey);
  std::vector<std::string> vLines;
  for (auto& sLine : ReadLines(file)) {
    if (!ours.count(KeyOf(sLine))) vLines.push_back(std::move(sLine));
  }
  return vLines;
}

// Through a file beside it and a rename, so a failed write never leaves half a registry. The
// new file gets the old one's permission bits before anything is written into it.
void WriteLines(const std::filesystem::path& file, const std::vector<std::string>& vLines) {
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  const std::filesystem::file_status oldStatus = std::filesystem::status(file, ec);
  std::filesystem::path temporary = file;
  temporary += ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    std::error_code ecKept;
    if (out && std::filesystem::exists(oldStatus)) {
      std::filesystem::permissions(temporary, oldStatus.permissions(), ecKept);
    }
    for (const auto& sLine : vLines) out << sLine << '\n';
    out.flush();
    if (!out || ecKept) {
      std::filesystem::remove(temporary, ec);
      RaiseError(errPathNotFound, "Cannot write " + file.string());
    }
  }
  std::filesystem::rename(temporary, file, ec);
  if (ec) {
    std::filesystem::remove(temporary, ec);
    RaiseError(errPathNotFound, "Cannot write " + file.string());
  }
}

// A line break (or any control character) in the path would end its line and start another
// entry of the registry file.
void CheckLibraryPath(const std::string& sLibraryPath) {
  auto IsControl = [](unsigned char c) { return c < 0x20 || c == 0x7F; };
  if (std::any_of(sLibraryPath.begin(), sLibraryPath.end(), IsControl)) {
    RaiseError(errInvalidCall, "The library's path holds a control character, which the registry file cannot hold");
  }
}

std::string Version() {
  return std::to_string(VARNLOGPROCESS_VERSION_MAJOR) + "." + std::to_string(VARNLOGPROCESS_VERSION_MINOR);
}

}  // namespace

std::string GuidText(const GUID& guid) {
  char sText[39];
  std::snprintf(sText, sizeof sText, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1, guid.Data2,
                guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  return sText;
}

std::filesystem::path RegistryFilePath() {
  std::string sFolder = UserFolder("XDG_CONFIG_HOME", ".config");
  if (sFolder.empty()) {
    RaiseError(errPathNotFound, "Neither XDG_CONFIG_HOME nor HOME names an absolute folder for the registry file");
  }
  return std::filesystem::path(sFolder) / "varnlogimp" / "registry";
}

std::vector<std::pair<std::string, std::string>> RegistrationEntries(const std::string& sLibraryPath) {
  const std::string sLibID = GuidText(LIBID_VarnLogProcess);
  std::vector<std::pair<std::string, std::string>> vEntries;
  for (const auto& served : kServedClasses) {
    const std::string sClsid = GuidText(*served.pClsid);
    const std::string sProgID = kProgIDPrefix + std::string(served.sName);
    const std::string sClassKey = "CLSID/" + sClsid;
    vEntries.emplace_back(sClassKey, sProgID);
    vEntries.emplace_back(sClassKey + "/InprocServer32", sLibraryPath);
    vEntries.emplace_back(sClassKey + "/ProgID", sProgID);
    vEntries.emplace_back(sClassKey + "/TypeLib", sLibID);
    vEntries.emplace_back(sClassKey + "/Version", Version());
    vEntries.emplace_back(sProgID + "/CLSID", sClsid);
  }
  const std::string sTypeLibKey = "TypeLib/" + sLibID + "/" + Version();
  vEntries.emplace_back(sTypeLibKey, VARNLOGPROCESS_DESCRIPTION);
  vEntries.emplace_back(fmt::format("{}/{:x}", sTypeLibKey, VARNLOGPROCESS_LCID), sLibraryPath);
  return vEntries;
}

std::filesystem::path RegisterServer(const std::string& sLibraryPath) {
  CheckLibraryPath(sLibraryPath);
  const std::filesystem::path file = RegistryFilePath();
  std::vector<std::string> vLines = ForeignLines(file);
  for (const auto& [sKey, sValue] : RegistrationEntries(sLibraryPath)) vLines.push_back(sKey + "=" + sValue);
  WriteLines(file, vLines);
  return file;
}

Unregistration UnregisterServer() {
  Unregistration result{RegistryFilePath(), 0};
  std::error_code ec;
  if (!std::filesystem::exists(result.file, ec)) return result;
  const std::vector<std::string> vForeign = ForeignLines(result.file);
  result.nRemoved = ReadLines(result.file).size() - vForeign.size();
  if (result.nRemoved > 0) WriteLines(result.file, vForeign);
  return result;
}

}  // namespace varn
