// The import service object: set-up, end, and the properties a host reads.
#include "service/clsLogAnalysis.h"

#include "ui/ErrorHandling.h"
#include "ui/UserInterface.h"

namespace varn {

bool clsLogAnalysis::IsConnected() const {
  if (!mConnection) RaiseError(errObjectNotSet);
  return mConnection->IsConnected();
}

void clsLogAnalysis::Initialize(const std::string& sDBPath) {
  clsHourglass hourglass;
  clsTrap trap("clsLogAnalysis:Class_Initialize");
  trap.Run([&] {
    trap.Step("00");
    mConnection = std::make_shared<clsConnection>();
    trap.Step("01");
    mConnection->SignOn(sDBPath);
    trap.Step("02");
    if (mConnection->IsConnected()) {
      trap.Step("03");
      GetHistoryDates();
    }
    trap.Step("04");
    gobjLogAnalysis = shared_from_this();
    mProgress = std::make_unique<frmProgress>();
  });
}

clsLogAnalysis::~clsLogAnalysis() {
  // Every step is attempted whatever the one before did: the object is going away.
  mHistoryLogDates.reset();
  mLogFile.reset();
  try {
    if (mConnection && mConnection->IsConnected()) mConnection->DBConnection()->Close();
  } catch (...) {  // a connection that cannot close has nothing left to lose
  }
  mConnection.reset();
  if (mProgress) mProgress->Unload();
  mProgress.reset();
  Screen().SetMousePointer(vbDefault);
}

}  // namespace varn
