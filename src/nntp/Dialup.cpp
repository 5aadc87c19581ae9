#include "nntp/Dialup.h"

#include "core/Intl.h"
#include "core/Log.h"
#include "core/TextUtil.h"

namespace zev {

FDialupListing ListDialupEntries() {
  FDialupListing listing;
  listing.result = kRasUnknownError;
  LogError(FormatText(Tr("Warning! Received RAS error code %d trying to obtain list of RAS connections"),
                      listing.result),
           0);
  return listing;
}

}  // namespace zev
