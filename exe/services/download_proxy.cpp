#include "services/download_proxy.h"

#include <string>
#include <utility>

#include "services/reverse_request.h"

namespace electron_morvane {

json ToJson(const SdkWrapper::DownloadParam& download) {
  return json{{"url", download.url},
              {"path", download.path},
              {"sdkTaskId", download.sdkTaskId},
              {"sdkData", std::to_string(download.sdkData)}};
}

json ToJson(const SdkWrapper::CancelDownloadParam& cancel) {
  return json{{"sdkTaskId", cancel.sdkTaskId}};
}

bool FromJson(const json& value, DownloadProgressParam& out) {
  if (!ContainsAll(value, {"sdkTaskId", "progress", "isFinish", "result", "httpStatusCode",
                           "errorMsg", "sdkData"})) {
    return false;
  }
  DownloadProgressParam decoded;
  if (!ReadInt32(value, "sdkTaskId", decoded.sdkTaskId) ||
      !ReadInt32(value, "progress", decoded.progress) ||
      !ReadBool(value, "isFinish", decoded.isFinish) ||
      !ReadInt32(value, "result", decoded.result) ||
      !ReadInt32(value, "httpStatusCode", decoded.httpStatusCode) ||
      !ReadText(value, "errorMsg", decoded.errorMsg) ||
      !ReadDecimalUInt64(value, "sdkData", decoded.sdkData)) {
    return false;
  }
  out = std::move(decoded);
  return true;
}

void forwardDownloadFile(const MessageOutlet& outlet, const SdkWrapper::DownloadParam& download) {
  sendReverseRequest(outlet, "downloadFile", download);
}

void forwardCancelDownloadFile(const MessageOutlet& outlet,
                               const SdkWrapper::CancelDownloadParam& cancel) {
  sendReverseRequest(outlet, "cancelDownloadFile", cancel);
}

void onDownloadFileEvent(const EventMessage<DownloadProgressParam>& event) {
  SdkWrapper::OnDownloadProgress(event.params);
}

}  // namespace electron_morvane
