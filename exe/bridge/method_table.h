#pragma once

namespace electron_morvane {

class MessageRouter;

// Registers every request and event the bridge serves, in table order. Job events and the
// library's reverse requests go out through the same router, which must outlive the library's
// callbacks (the callback gate guarantees that at exit).
void RegisterMethodTable(MessageRouter& router);

}  // namespace electron_morvane
