// The library's file downloads, made by the host: "downloadFile" and "cancelDownloadFile" out,
// "downloadFile" progress events back.
#pragma once

#include "protocol/message_outlet.h"
#include "protocol/messages.h"
#include "sdk/host_answers.h"
#include "sdk/sdk_wrapper.h"

namespace electron_morvane {

json ToJson(const SdkWrapper::DownloadParam& download);
json ToJson(const SdkWrapper::CancelDownloadParam& cancel);
bool FromJson(const json& value, DownloadProgressParam& out);

void forwardDownloadFile(const MessageOutlet& outlet, const SdkWrapper::DownloadParam& download);
void forwardCancelDownloadFile(const MessageOutlet& outlet,
                               const SdkWrapper::CancelDownloadParam& cancel);
void onDownloadFileEvent(const EventMessage<DownloadProgressParam>& event);

}  // namespace electron_morvane
