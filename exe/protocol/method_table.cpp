#include "protocol/method_table.h"

#include "protocol/message_router.h"

namespace electron_morvane {

void RegisterMethodTable(MessageRouter& /*router*/) {}

}  // namespace electron_morvane
