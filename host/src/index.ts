export { startBridge } from './start-bridge';
export {
  MorvaneBridge,
  type BridgeEvents,
  type BridgeGaveUpInfo,
  type BridgeRestartInfo,
  type JobOptions,
  type RequestOptions,
} from './bridge';
export { UpdateJob } from './update-job';
export {
  BridgeClosedError,
  BridgeCrashError,
  BridgeExitError,
  BridgeReplyError,
  BridgeStatusError,
  BridgeTimeoutError,
  DriverUpdateError,
  MorvaneBridgeError,
  type BridgeCrashInfo,
  type BridgeExitInfo,
} from './errors';
export { describeExit } from './exit-codes';
export { defaultTimeouts, type BridgeTimeouts, type RestartPolicy, type StartBridgeOptions } from './options';
export type { Logger } from './logger';
export type { FetchLike } from './services/fetch';
export type { DownloadActivity } from './services/download';
export { setCookieSeparator } from './services/response-headers';
export {
  describeResultCode,
  isUpdateErrorState,
  resultCodeName,
  ResultCode,
  UpdateState,
  type DeviceRef,
  type DisplayDevice,
  type DownloadFileParams,
  type DownloadProgressParams,
  type DriverCheckResult,
  type HttpAnswerParams,
  type HttpRequestParams,
  type InitOptions,
  type LogLevel,
  type ResultCodeValue,
  type UpdateStateCode,
  type UpdateStatus,
  type VendorType,
} from './protocol';
