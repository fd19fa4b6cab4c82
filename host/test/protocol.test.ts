import assert from 'node:assert/strict';
import { describe } from 'node:test';
import { test } from './timed-test';
import { describeResultCode, isUpdateErrorState, parseLine, ResultCode, resultCodeName, UpdateState } from '../src/protocol';

describe('parseLine', () => {
  const accepted: [string, string][] = [
    [
      'response',
      '{"from":"client","id":"1","method":"init","result":{"data":null,"status":0,"statusString":"ok"},"to":"host","type":"response"}',
    ],
    ['error', '{"error":"parse request failed","from":"client","id":"7","method":"init","to":"host","type":"error"}'],
    ['fatal without id', '{"error":"parse message failed","from":"client","to":"host","type":"fatal"}'],
    ['event', '{"type":"event","id":"3","method":"checkDisplayDeviceDriver","params":{"needUpdate":true}}'],
    ['reverse request', '{"type":"request","id":"0","method":"log","params":{"log":""}}'],
    ['sdkData kept as text', '{"type":"request","id":"0","method":"downloadFile","params":{"sdkData":"18446744073709551615"}}'],
  ];
  for (const [name, line] of accepted) {
    test(`accepts ${name}`, () => {
      const parsed = parseLine(line);
      assert.ok('message' in parsed, JSON.stringify(parsed));
      assert.deepEqual(parsed.message, JSON.parse(line));
    });
  }

  test('keeps a 64-bit sdkData exact', () => {
    const parsed = parseLine(accepted[5][1]);
    assert.ok('message' in parsed);
    assert.equal((parsed.message.params as { sdkData: string }).sdkData, '18446744073709551615');
  });

  const rejected: [string, string, RegExp][] = [
    ['not JSON', 'hello', /not JSON/],
    ['an array', '[1,2]', /not a JSON object/],
    ['null', 'null', /not a JSON object/],
    ['no type', '{"id":"1"}', /"type"/],
    ['numeric type', '{"type":1}', /"type"/],
    ['unknown type', '{"type":"notice","id":"1"}', /unknown type/],
    ['response with numeric id', '{"type":"response","id":1,"result":{"status":0}}', /"id"/],
    ['response without result', '{"type":"response","id":"1"}', /result\.status/],
    ['response with text status', '{"type":"response","id":"1","result":{"status":"0"}}', /result\.status/],
    ['fatal without error text', '{"type":"fatal","error":5}', /"error"/],
    ['error without id', '{"type":"error","error":"x"}', /"id"/],
    ['event without method', '{"type":"event","id":"1","params":{}}', /"method"/],
    ['request without params', '{"type":"request","id":"1","method":"log"}', /"params"/],
    ['request with null params', '{"type":"request","id":"1","method":"log","params":null}', /"params"/],
  ];
  for (const [name, line, problem] of rejected) {
    test(`rejects ${name}`, () => {
      const parsed = parseLine(line);
      assert.ok('problem' in parsed, `accepted ${line}`);
      assert.match(parsed.problem, problem);
    });
  }
});

test('error states are download, unzip and install errors only', () => {
  const errorStates = [...Array(13).keys()].filter(isUpdateErrorState);
  assert.deepEqual(errorStates, [2, 5, 8]);
});

test('result codes are named as the bridge names them, unknown ones "unknown"', () => {
  const cases: [number, string][] = [
    [0, 'ok'], [-1003, 'cancel_operation'], [-1005, 'unknown'], [-1006, 'error_sdk_status'], [-2005, 'no_match_driver'],
    [-2007, 'current_driver_newer'], [-2017, 'exist_driver_package'], [-2018, 'unknown'], [-999, 'unknown'],
    [-3000, 'timeout'], [-3001, 'net_error'], [-3002, 'unknown'], [1, 'unknown'],
  ];
  assert.deepEqual(cases.map(([code]) => [code, resultCodeName(code)]), cases);
});

test('every result code of the protocol has a constant, and its text', () => {
  // The protocol's table: code and status text; -1005 has no text of its own.
  const protocol: [keyof typeof ResultCode, number, string][] = [
    ['Ok', 0, 'ok'], ['InvalidParameter', -1000, 'invalid_parameter'], ['ArraySizeNotEnough', -1001, 'array_size_not_enough'],
    ['NoAvailableData', -1002, 'no_available_data'], ['CancelOperation', -1003, 'cancel_operation'], ['CannotCancel', -1004, 'cannot_cancel'],
    ['NoResultStored', -1005, 'unknown'], ['ErrorSdkStatus', -1006, 'error_sdk_status'],
    ['BusinessNoSdkConfig', -2000, 'business_no_sdk_config'], ['DownloadSdkConfigFail', -2001, 'download_sdk_config_fail'],
    ['DownloadDriverConfigFail', -2002, 'download_driver_config_fail'], ['ParseSdkConfigFail', -2003, 'parse_sdk_config_fail'],
    ['ParseDriverConfigFail', -2004, 'parse_driver_config_fail'], ['NoMatchDriver', -2005, 'no_match_driver'],
    ['NoGraphicsDevice', -2006, 'no_graphics_device'], ['CurrentDriverNewer', -2007, 'current_driver_newer'],
    ['FileMd5CheckFail', -2008, 'file_md5_check_fail'], ['GetDeviceInfoFail', -2009, 'get_device_info_fail'],
    ['DiskSpaceNotEnoughInstall', -2010, 'disk_space_not_enough_install'], ['DiskSpaceNotEnoughDownload', -2011, 'disk_space_not_enough_download'],
    ['CannotRetryUpdate', -2012, 'cannot_retry_update'], ['CannotRetryCheck', -2013, 'cannot_retry_check'],
    ['NotCurrentUpdateDevice', -2014, 'not_current_update_device'], ['NotCurrentCheckDevice', -2015, 'not_current_check_device'],
    ['AnotherDeviceUpdating', -2016, 'another_device_updating'], ['ExistDriverPackage', -2017, 'exist_driver_package'],
    ['Timeout', -3000, 'timeout'], ['NetError', -3001, 'net_error'],
  ];
  assert.deepEqual(Object.entries(ResultCode), protocol.map(([name, code]) => [name, code]));
  assert.deepEqual(protocol.map(([, code]) => resultCodeName(code)), protocol.map(([, , text]) => text));
  assert.equal(describeResultCode(ResultCode.CancelOperation), '-1003 cancel_operation');
});

test('every update state of the protocol has a constant', () => {
  const states = ['Unknown', 'Download', 'DownloadError', 'DownloadSuccess', 'Unzip', 'UnzipError', 'UnzipSuccess', 'Install', 'InstallError', 'InstallSuccess', 'Finish'];
  assert.deepEqual(Object.entries(UpdateState), states.map((name, value) => [name, value]));
});
