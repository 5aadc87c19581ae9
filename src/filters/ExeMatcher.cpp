#include "filters/ExeMatcher.h"

namespace zev {

TExeMatcher* gExeMatcher = nullptr;

}  // namespace zev
