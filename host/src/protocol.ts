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
  state: number;
  stateString: string;
  progress: number;
  errorCode: number;
  errorMsg: string;
}

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

const updateErrorStates: ReadonlySet<number> = new Set([
  UpdateState.DownloadError,
  UpdateState.UnzipError,
  UpdateState.InstallError,
]);

export function isUpdateErrorState(state: number): boolean {
  return updateErrorStates.has(state);
}

/** Result codes the host itself puts into its answers to the library. */
export const ResultCode = {
  Ok: 0,
  CancelOperation: -1003,
  Timeout: -3000,
  NetError: -3001,
} as const;

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
  [0, 'ok'],
  [-1000, 'invalid_parameter'],
  [-1001, 'array_size_not_enough'],
  [-1002, 'no_available_data'],
  [-1003, 'cancel_operation'],
  [-1004, 'cannot_cancel'],
  [-1006, 'error_sdk_status'],
  [-2000, 'business_no_sdk_config'],
  [-2001, 'download_sdk_config_fail'],
  [-2002, 'download_driver_config_fail'],
  [-2003, 'parse_sdk_config_fail'],
  [-2004, 'parse_driver_config_fail'],
  [-2005, 'no_match_driver'],
  [-2006, 'no_graphics_device'],
  [-2007, 'current_driver_newer'],
  [-2008, 'file_md5_check_fail'],
  [-2009, 'get_device_info_fail'],
  [-2010, 'disk_space_not_enough_install'],
  [-2011, 'disk_space_not_enough_download'],
  [-2012, 'cannot_retry_update'],
  [-2013, 'cannot_retry_check'],
  [-2014, 'not_current_update_device'],
  [-2015, 'not_current_check_device'],
  [-2016, 'another_device_updating'],
  [-2017, 'exist_driver_package'],
  [-3000, 'timeout'],
  [-3001, 'net_error'],
]);

/**
 * The status text of a library result code, as responses carry it in "statusString". Job reports
 * carry their codes as numbers only; this names them.
 */
export function resultCodeName(code: number): string {
  return resultCodeNames.get(code) ?? 'unknown';
}
