// One user category of the User table, and the statement that stores a new one.
#pragma once

#include <cstdint>
#include <string>

namespace varn {

class clsItemUser {
 public:
  int32_t User_ID() const { return mlUser_ID; }
  void User_ID(int32_t vData) { mlUser_ID = vData; }
  const std::string& UserName() const { return msUserName; }
  void UserName(const std::string& vData) { msUserName = vData; }

  // Writes the row; True when the statement ran.
  bool Insert();

 private:
  std::string msUserName;
  int32_t mlUser_ID = 0;
};

}  // namespace varn
