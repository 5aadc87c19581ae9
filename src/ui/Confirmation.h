#pragma once
// The confirmations the user may answer once and for all (Options | Confirmations): in
// Auto mode the stored answer stands without a question; in Query mode the question dialog
// asks, and a remembered answer is stored and switches Auto on.
#include <string>

#include "core/Config.h"

namespace zev::ui {

// Returns anYes, anNo or anCancel (TAnswer). A stored No in Auto mode shows `refusal`
// (when not empty) as an error and answers No.
int Confirm(TConfirmation which, const std::string& question, const std::string& refusal, bool allowCancel);

}  // namespace zev::ui
