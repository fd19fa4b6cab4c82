import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import { isUpdateErrorState, parseLine, resultCodeName } from '../src/protocol';

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
