#include "ui/Confirmation.h"

#include "ui/MessageBoxes.h"
#include "ui/QueryDlg.h"

namespace zev::ui {

int Confirm(TConfirmation which, const std::string& question, const std::string& refusal, bool allowCancel) {
  TConfig& config = *gConfig;
  if (config.ConfirmAuto[which]) {
    if (config.ConfirmAnswer[which]) return anYes;
    if (!refusal.empty()) ShowError(refusal);
    return anNo;
  }
  bool remember = false;
  int options = qoRemember | (allowCancel ? qoCancel : 0);
  int answer = QueryUser(question, options, remember, config.ConfirmAnswer[which] ? anYes : anNo);
  if (remember && answer != anCancel) {
    config.ConfirmAnswer[which] = answer == anYes;
    config.ConfirmAuto[which] = true;
    config.Save();
  }
  return answer;
}

}  // namespace zev::ui
