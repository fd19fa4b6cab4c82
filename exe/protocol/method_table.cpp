#include "protocol/method_table.h"

#include "operations/driver_jobs.h"
#include "operations/library_init.h"
#include "operations/query_methods.h"
#include "protocol/adapters.h"
#include "protocol/message_router.h"
#include "services/download_proxy.h"
#include "services/http_proxy.h"

namespace electron_morvane {

void RegisterMethodTable(MessageRouter& router) {
  router.RegisterRequest("init", MakeRequestAdapter("init", &handleInit));
  router.RegisterRequest("getSdkVersion", MakeRequestAdapter("getSdkVersion", &handleGetSdkVersion));
  router.RegisterRequest("getDisplayDevice",
                         MakeRequestAdapter("getDisplayDevice", &handleGetDisplayDevice));
  router.RegisterRequest(
      "checkDisplayDeviceDriver",
      MakeRequestAdapter("checkDisplayDeviceDriver", &handleCheckDisplayDeviceDriver));
  router.RegisterRequest(
      "cancelCheckDisplayDeviceDriver",
      MakeRequestAdapter("cancelCheckDisplayDeviceDriver", &handleCancelCheckDisplayDeviceDriver));
  router.RegisterRequest(
      "updateDisplayDeviceDriver",
      MakeRequestAdapter("updateDisplayDeviceDriver", &handleUpdateDisplayDeviceDriver));
  router.RegisterRequest("cancelUpdateDisplayDeviceDriver",
                         MakeRequestAdapter("cancelUpdateDisplayDeviceDriver",
                                            &handleCancelUpdateDisplayDeviceDriver));
  router.RegisterRequest("setDriverDownloadDir",
                         MakeRequestAdapter("setDriverDownloadDir", &handleSetDriverDownloadDir));
  router.RegisterEvent("downloadFile",
                       MakeEventAdapter<DownloadProgressParam>(router, "downloadFile",
                                                               &onDownloadFileEvent));
  router.RegisterEvent("httpRequest", MakeEventAdapter<HttpResponseParam>(router, "httpRequest",
                                                                          &onHttpRequestEvent));
}

}  // namespace electron_morvane
