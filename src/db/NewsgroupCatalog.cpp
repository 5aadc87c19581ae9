#include "db/NewsgroupCatalog.h"

namespace zev {

TNewsgroupCatalog* gNewsgroupCatalog = nullptr;

}  // namespace zev
