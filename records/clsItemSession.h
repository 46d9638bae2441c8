// The record of one session line, in the current layout
// ("PC03,08:43,11:37,2:54|3.00,4.00|Member:7.20,18.70,M1433") or the older one of comma
// fields only, converted first. SetUp parses it, creates its goods record and finds or creates
// its user through the processor of the import; DBUpdate writes its Session row and goods row.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "records/clsItemGoods.h"
#include "runtime/Int16.h"

namespace varn {

class clsItemSession {
 public:
  const std::string& MemberID() const { return msMemberID; }
  void MemberID(const std::string& vData) { msMemberID = vData; }
  double Total() const { return mdblTotal; }
  void Total(double vData) { mdblTotal = vData; }
  double UserCharge() const { return mdblUserCharge; }
  void UserCharge(double vData) { mdblUserCharge = vData; }
  int32_t User_ID() const { return mlUser_ID; }
  void User_ID(int32_t vData) { mlUser_ID = vData; }
  double TotalGoods() const { return mdblTotalGoods; }
  void TotalGoods(double vData) { mdblTotalGoods = vData; }
  const std::string& TotalTime() const { return msTotalTime; }
  void TotalTime(const std::string& vData) { msTotalTime = vData; }
  const std::string& EndTime() const { return msEndTime; }
  void EndTime(const std::string& vData) { msEndTime = vData; }
  const std::string& StartTime() const { return msStartTime; }
  void StartTime(const std::string& vData) { msStartTime = vData; }
  const std::string& PC_No() const { return msPC_No; }
  void PC_No(const std::string& vData) { msPC_No = vData; }
  Int16 LineNo() const { return mnLineNo; }
  void LineNo(Int16 vData) { mnLineNo = vData; }
  int32_t Shift_ID() const { return mlShift_ID; }
  void Shift_ID(int32_t vData) { mlShift_ID = vData; }
  int32_t Date_ID() const { return mlDate_ID; }
  void Date_ID(int32_t vData) { mlDate_ID = vData; }
  int32_t Session_ID() const { return mlSession_ID; }
  void Session_ID(int32_t vData) { mlSession_ID = vData; }

  bool SetUp(const std::string& sLine, int32_t eWhatAction);
  bool DBUpdate(int32_t eDBAction);

  const std::shared_ptr<clsItemGoods>& Goods() const { return mGoods; }

 private:
  bool mbIsNewFormat(const std::string& sLine);
  std::string msConvertToNewFormat(const std::string& sLine);
  std::string msCheckForCorrectTime(std::string_view sText);
  void mGetUserAndCharge(std::string_view sText, std::string& sUserName, std::string& sCharge);
  bool mbDBUpdate15(int32_t eDBAction);

  int32_t mlSession_ID = 0;
  int32_t mlDate_ID = 0;
  int32_t mlShift_ID = 0;
  Int16 mnLineNo;
  std::string msPC_No;
  std::string msStartTime;
  std::string msEndTime;
  std::string msTotalTime;
  double mdblTotalGoods = 0;
  int32_t mlUser_ID = 0;
  double mdblUserCharge = 0;
  double mdblTotal = 0;
  std::string msMemberID;
  std::shared_ptr<clsItemGoods> mGoods;
};

}  // namespace varn
