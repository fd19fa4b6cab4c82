#pragma once

namespace electron_morvane {

class MessageRouter;

// Registers every request and event the bridge serves, in table order.
void RegisterMethodTable(MessageRouter& router);

}  // namespace electron_morvane
