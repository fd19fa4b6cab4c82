#include "bridge/method_table.h"

#include "operations/driver_jobs.h"
#include "operations/library_init.h"
#include "operations/query_methods.h"
#include "protocol/message_router.h"
#include "protocol/method_binder.h"
#include "services/download_proxy.h"
#include "services/http_proxy.h"
#include "services/log_forwarding.h"

namespace electron_morvane {
namespace {

LibraryServices ServicesThrough(const MessageOutlet& outlet) {
  LibraryServices services;
  services.log = [&outlet](const SdkWrapper::LogParam& line) { return forwardLog(outlet, line); };
  services.download = [&outlet](const SdkWrapper::DownloadParam& download) {
    forwardDownloadFile(outlet, download);
  };
  services.cancelDownload = [&outlet](const SdkWrapper::CancelDownloadParam& cancel) {
    forwardCancelDownloadFile(outlet, cancel);
  };
  services.httpRequest = [&outlet](const SdkWrapper::HttpRequestParam& request) {
    forwardHttpRequest(outlet, request);
  };
  return services;
}

}  // namespace

void RegisterMethodTable(MessageRouter& router) {
  const MessageOutlet& outlet = router;
  const auto withOutlet = [&outlet](auto handler) {
    return [&outlet, handler](const DriverJobRequest& request) { return handler(request, outlet); };
  };
  MethodBinder(router)
      .Request<SdkWrapper::SdkInitConfig>(
          "init",
          [services = ServicesThrough(outlet)](const RequestMessage<SdkWrapper::SdkInitConfig>& r) {
            return handleInit(r, services);
          })
      .Request<NoParams>("getSdkVersion", &handleGetSdkVersion)
      .Request<NoParams>("getDisplayDevice", &handleGetDisplayDevice)
      .Request<DisplayDeviceDriverParam>("checkDisplayDeviceDriver",
                                         withOutlet(&handleCheckDisplayDeviceDriver))
      .Request<DisplayDeviceDriverParam>("cancelCheckDisplayDeviceDriver",
                                         &handleCancelCheckDisplayDeviceDriver)
      .Request<DisplayDeviceDriverParam>("updateDisplayDeviceDriver",
                                         withOutlet(&handleUpdateDisplayDeviceDriver))
      .Request<DisplayDeviceDriverParam>("cancelUpdateDisplayDeviceDriver",
                                         &handleCancelUpdateDisplayDeviceDriver)
      .Request<DownloadDirParam>("setDriverDownloadDir", &handleSetDriverDownloadDir)
      .Event<DownloadProgressParam>("downloadFile", &onDownloadFileEvent)
      .Event<HttpResponseParam>("httpRequest", &onHttpRequestEvent);
}

}  // namespace electron_morvane
