// The messages exchanged with morvane-bridge, one JSON object per line.

export type MessageType = 'request' | 'response' | 'event' | 'error' | 'fatal';

/** Any message as it appears on the wire. Which keys are present depends on "type". */
export interface WireMessage {
  type: MessageType;
  from?: string;
  to?: string;
  id?: string;
  method?: string;
  params?: unknown;
  result?: ResponseResult;
  error?: string;
}

export interface ResponseResult<T = unknown> {
  status: number;
  statusString: string;
  data: T;
}

/** The host's requests to the bridge. */
export type HostMethod =
  | 'init'
  | 'getSdkVersion'
  | 'getDisplayDevice'
  | 'setDriverDownloadDir'
  | 'checkDisplayDeviceDriver'
  | 'cancelCheckDisplayDeviceDriver'
  | 'updateDisplayDeviceDriver'
  | 'cancelUpdateDisplayDeviceDriver';

/** The bridge's requests to the host, made on behalf of the driver library. */
export type ReverseMethod = 'httpRequest' | 'downloadFile' | 'cancelDownloadFile' | 'log';

export type LogLevel = 'none' | 'error' | 'warning' | 'info' | 'debug' | 'all';

export interface InitOptions {
  appName: string;
  appId: string;
  /** The client's own device id (not an adapter's). */
  deviceId: string;
  clientVersion: string;
  oversea: boolean;
  /** URL of the library's configuration; the library's default when left out. */
  sdkConfigUrl?: string;
  configDir?: string;
  tempDir?: string;
  /** Log levels the library reports; none when left out. */
  logMode?: LogLevel | LogLevel[];
}

export type VendorType = 'nvidia' | 'amd' | 'intel' | 'niche_brand' | 'unknown';

/** One display adapter as the library sees it. */
export interface DisplayDevice {
  name: string;
  driverVersion: string;
  driverDate: string;
  vendorId: string;
  deviceId: string;
  enable: boolean;
  problemCode: number;
  vendorType: VendorType;
}

/** Names one adapter for checks, updates and cancels. */
export interface DeviceRef {
  vendorId: string;
  deviceId: string;
}

/** The outcome of a driver check. */
export interface DriverCheckResult {
  name: string;
  vendorId: string;
  deviceId: string;
  driverVersion: string;
  driverDate: string;
  fileSize: number;
  needUpdate: boolean;
  errorCode: number;
  errorMsg: string;
}

/** One report of a running driver update. */
export interface UpdateStatus {
  vendorId: string;
  deviceId: string;
  /** One of UpdateState; a state a newer library adds is passed on as it is. */
  state: UpdateStateCode;
  stateString: string;
  progress: number;
  errorCode: number;
  errorMsg: string;
}

/** The states an update reports, as the library numbers them. */
export const UpdateState = {
  Unknown: 0,
  Download: 1,
  DownloadError: 2,
  DownloadSuccess: 3,
  Unzip: 4,
  UnzipError: 5,
  UnzipSuccess: 6,
  Install: 7,
  InstallError: 8,
  InstallSuccess: 9,
  Finish: 10,
} as const;

export type UpdateStateCode = (typeof UpdateState)[keyof typeof UpdateState];

const updateErrorStates: ReadonlySet<number> = new Set([
  UpdateState.DownloadError,
  UpdateState.UnzipError,
  UpdateState.InstallError,
]);

export function isUpdateErrorState(state: number): boolean {
  return updateErrorStates.has(state);
}

/** The library's result codes, in responses' "status" and in job reports' "errorCode". */
export const ResultCode = {
  Ok: 0,
  InvalidParameter: -1000,
  ArraySizeNotEnough: -1001,
  NoAvailableData: -1002,
  CancelOperation: -1003,
  CannotCancel: -1004,
  /** The library has no result stored for the call; it has no status text of its own. */
  NoResultStored: -1005,
  ErrorSdkStatus: -1006,
  BusinessNoSdkConfig: -2000,
  DownloadSdkConfigFail: -2001,
  DownloadDriverConfigFail: -2002,
  ParseSdkConfigFail: -2003,
  ParseDriverConfigFail: -2004,
  NoMatchDriver: -2005,
  NoGraphicsDevice: -2006,
  CurrentDriverNewer: -2007,
  FileMd5CheckFail: -2008,
  GetDeviceInfoFail: -2009,
  DiskSpaceNotEnoughInstall: -2010,
  DiskSpaceNotEnoughDownload: -2011,
  CannotRetryUpdate: -2012,
  CannotRetryCheck: -2013,
  NotCurrentUpdateDevice: -2014,
  NotCurrentCheckDevice: -2015,
  AnotherDeviceUpdating: -2016,
  ExistDriverPackage: -2017,
  Timeout: -3000,
  NetError: -3001,
} as const;

export type ResultCodeValue = (typeof ResultCode)[keyof typeof ResultCode];

/** Params of the bridge's "httpRequest" request. */
export interface HttpRequestParams {
  url: string;
  method: string;
  headers: Record<string, string>;
  body: string;
  sdkTaskId: number;
  /** Unsigned 64-bit value in decimal; never turn it into a Number. */
  sdkData: string;
}

/** Params of the host's "httpRequest" event, the answer to an "httpRequest" request. */
export interface HttpAnswerParams {
  sdkTaskId: number;
  result: number;
  httpStatusCode: number;
  errorMsg: string;
  headers: Record<string, string>;
  body: string;
  sdkData: string;
}

/** Params of the bridge's "downloadFile" request. */
export interface DownloadFileParams {
  url: string;
  path: string;
  sdkTaskId: number;
  sdkData: string;
}

/** Params of the host's "downloadFile" event: progress of a download, or its end. */
export interface DownloadProgressParams {
  sdkTaskId: number;
  progress: number;
  isFinish: boolean;
  result: number;
  httpStatusCode: number;
  errorMsg: string;
  sdkData: string;
}

export interface CancelDownloadParams {
  sdkTaskId: number;
}

export interface LogParams {
  log: string;
}

/** Splits a received line into a message, or says why it is not one. */
export function parseLine(line: string): { message: WireMessage } | { problem: string } {
  let value: unknown;
  try {
    value = JSON.parse(line);
  } catch (error) {
    return { problem: `not JSON: ${(error as Error).message}` };
  }
  if (typeof value !== 'object' || value === null || Array.isArray(value)) {
    return { problem: 'not a JSON object' };
  }
  const message = value as Record<string, unknown>;
  if (typeof message.type !== 'string') return { problem: 'no "type" text' };
  switch (message.type) {
    case 'fatal':
      if (typeof message.error !== 'string') return { problem: 'fatal without "error" text' };
      break;
    case 'error':
      if (typeof message.id !== 'string') return { problem: 'error without "id" text' };
      if (typeof message.error !== 'string') return { problem: 'error without "error" text' };
      break;
    case 'response': {
      if (typeof message.id !== 'string') return { problem: 'response without "id" text' };
      const result = message.result as Record<string, unknown> | null | undefined;
      if (typeof result !== 'object' || result === null || typeof result.status !== 'number') {
        return { problem: 'response without a numeric "result.status"' };
      }
      break;
    }
    case 'event':
    case 'request':
      if (typeof message.id !== 'string') return { problem: `${message.type} without "id" text` };
      if (typeof message.method !== 'string') {
        return { problem: `${message.type} without "method" text` };
      }
      if (typeof message.params !== 'object' || message.params === null) {
        return { problem: `${message.type} without "params" object` };
      }
      break;
    default:
      return { problem: `unknown type "${message.type}"` };
  }
  return { message: message as unknown as WireMessage };
}

const resultCodeNames: ReadonlyMap<number, string> = new Map([
  [ResultCode.Ok, 'ok'],
  [ResultCode.InvalidParameter, 'invalid_parameter'],
  [ResultCode.ArraySizeNotEnough, 'array_size_not_enough'],
  [ResultCode.NoAvailableData, 'no_available_data'],
  [ResultCode.CancelOperation, 'cancel_operation'],
  [ResultCode.CannotCancel, 'cannot_cancel'],
  [ResultCode.ErrorSdkStatus, 'error_sdk_status'],
  [ResultCode.BusinessNoSdkConfig, 'business_no_sdk_config'],
  [ResultCode.DownloadSdkConfigFail, 'download_sdk_config_fail'],
  [ResultCode.DownloadDriverConfigFail, 'download_driver_config_fail'],
  [ResultCode.ParseSdkConfigFail, 'parse_sdk_config_fail'],
  [ResultCode.ParseDriverConfigFail, 'parse_driver_config_fail'],
  [ResultCode.NoMatchDriver, 'no_match_driver'],
  [ResultCode.NoGraphicsDevice, 'no_graphics_device'],
  [ResultCode.CurrentDriverNewer, 'current_driver_newer'],
  [ResultCode.FileMd5CheckFail, 'file_md5_check_fail'],
  [ResultCode.GetDeviceInfoFail, 'get_device_info_fail'],
  [ResultCode.DiskSpaceNotEnoughInstall, 'disk_space_not_enough_install'],
  [ResultCode.DiskSpaceNotEnoughDownload, 'disk_space_not_enough_download'],
  [ResultCode.CannotRetryUpdate, 'cannot_retry_update'],
  [ResultCode.CannotRetryCheck, 'cannot_retry_check'],
  [ResultCode.NotCurrentUpdateDevice, 'not_current_update_device'],
  [ResultCode.NotCurrentCheckDevice, 'not_current_check_device'],
  [ResultCode.AnotherDeviceUpdating, 'another_device_updating'],
  [ResultCode.ExistDriverPackage, 'exist_driver_package'],
  [ResultCode.Timeout, 'timeout'],
  [ResultCode.NetError, 'net_error'],
]);

/**
 * The status text of a library result code, as responses carry it in "statusString"; "unknown"
 * for codes without one (-1005 among them). Job reports carry their codes as numbers only; this
 * names them.
 */
export function resultCodeName(code: number): string {
  return resultCodeNames.get(code) ?? 'unknown';
}

/** A code with its name, as error messages show it: "-1003 cancel_operation". */
export function describeResultCode(code: number): string {
  return `${code} ${resultCodeName(code)}`;
}
