#pragma once
// Work that only prepares for later (memory made ready ahead of need) should run on
// processors nobody else wants, never in the way of the connections and the storing.
namespace zev::platform {

// Gives the calling thread the scheduler's idle class, or failing that the lowest nice
// value. Returns false when neither could be set; the thread then runs as before.
bool MakeThisThreadBackground();

}  // namespace zev::platform
