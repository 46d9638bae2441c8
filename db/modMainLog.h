// The narrow door through which records and parsing reach the import under way
// (gobjLogAnalysis), and key allocation. Keys are the highest in use plus one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "db/Enums.h"
#include "db/clsConnection.h"
#include "runtime/DateTime.h"
#include "runtime/Int16.h"

namespace varn {

// The processor's user list, as the session record calls back into it.
class IUserCategories {
 public:
  virtual ~IUserCategories() = default;
  virtual Int16 GetUserID(const std::string& sUserName) = 0;
  virtual Int16 CreateUser(const std::string& sUserName) = 0;
};

// What the component sees of the import service object that ran Initialize last.
class IImportService {
 public:
  virtual ~IImportService() = default;
  virtual bool IsConnected() const = 0;  // raises 91 before Initialize
  virtual std::shared_ptr<clsConnection> DBConnection() const = 0;
  virtual varneDBAction WhatDBAction() const = 0;
  virtual Date MatchedLogDate() const = 0;
  virtual IUserCategories* LogFile() const = 0;
};

// A counted reference to the service object that ran Initialize last.
extern std::shared_ptr<IImportService> gobjLogAnalysis;

// gobjLogAnalysis itself; raises 91 when no service object has run Initialize.
IImportService& ImportService();
// gobjLogAnalysis.DBConnection.DBConnection: the connection every statement runs on.
Connection& SharedConnection();

// The next free key of a table: the highest plus one, 1 for an empty table; -1 when no
// database is connected (no message), 0 after a reported failure.
int32_t GetNextID(int32_t eKind);
// The key of the row with that LineNo and Date_ID; -1 when not connected, 0 after a reported
// failure, kNoExistingID when no row has them.
int32_t GetExistingID(int32_t eKind, int32_t lLineNo, int32_t lDateID);
inline constexpr int32_t kNoExistingID = INT32_MIN;

}  // namespace varn
