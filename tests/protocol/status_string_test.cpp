// The status text the host reads beside each result code.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/messages.h"
#include "protocol/wire_format.h"

namespace electron_morvane {
namespace {

std::string ResponseLine(ResultCode status) {
  ResponseMessage<NoData> response;
  static_cast<Envelope&>(response) = Envelope{"response", "client", "host", "7", "init"};
  response.result.status = status;
  return SerializeMessage(ToJson(response));
}

TEST(StatusString, ResponsesCarryTheTextOfTheirCodeAtTheEdgesOfEachBand) {
  const struct {
    ResultCode status;
    const char* line;
  } cases[] = {
      {0, R"({"from":"client","id":"7","method":"init","result":{"data":null,"status":0,"statusString":"ok"},"to":"host","type":"response"})"},
      {1, R"({"from":"client","id":"7","method":"init","result":{"data":null,"status":1,"statusString":"unknown"},"to":"host","type":"response"})"},
      {-1, R"({"from":"client","id":"7","method":"init","result":{"data":null,"status":-1,"statusString":"unknown"},"to":"host","type":"response"})"},
      {-1000, R"({"from":"client","id":"7","method":"init","result":{"data":null,"status":-1000,"statusString":"invalid_parameter"},"to":"host","type":"response"})"},
      // The code a response holds until its handler stores a result has no text of its own.
      {-1005, R"({"from":"client","id":"7","method":"init","result":{"data":null,"status":-1005,"statusString":"unknown"},"to":"host","type":"response"})"},
      {-1006, R"({"from":"client","id":"7","method":"init","result":{"data":null,"status":-1006,"statusString":"error_sdk_status"},"to":"host","type":"response"})"},
      {-2000, R"({"from":"client","id":"7","method":"init","result":{"data":null,"status":-2000,"statusString":"business_no_sdk_config"},"to":"host","type":"response"})"},
      {-2017, R"({"from":"client","id":"7","method":"init","result":{"data":null,"status":-2017,"statusString":"exist_driver_package"},"to":"host","type":"response"})"},
      {-3001, R"({"from":"client","id":"7","method":"init","result":{"data":null,"status":-3001,"statusString":"net_error"},"to":"host","type":"response"})"},
      {INT32_MAX, R"({"from":"client","id":"7","method":"init","result":{"data":null,"status":2147483647,"statusString":"unknown"},"to":"host","type":"response"})"},
      {INT32_MIN, R"({"from":"client","id":"7","method":"init","result":{"data":null,"status":-2147483648,"statusString":"unknown"},"to":"host","type":"response"})"},
  };
  for (const auto& c : cases) EXPECT_EQ(ResponseLine(c.status), c.line);
}

std::string TextOf(ResultCode status) {
  ResponseResult<NoData> result;
  result.status = status;
  return ToJson(result).at("statusString");
}

// Each band of codes walked downwards from the code just above it to the code just below it:
// every code in it has its own text, and the codes around it have none.
TEST(StatusString, EveryCodeOfEachBandHasItsTextAndItsNeighboursHaveNone) {
  const struct {
    ResultCode above;
    std::vector<std::string> texts;
  } bands[] = {
      {-999,
       {"unknown", "invalid_parameter", "array_size_not_enough", "no_available_data",
        "cancel_operation", "cannot_cancel", "unknown", "error_sdk_status", "unknown"}},
      {-1999,
       {"unknown", "business_no_sdk_config", "download_sdk_config_fail",
        "download_driver_config_fail", "parse_sdk_config_fail", "parse_driver_config_fail",
        "no_match_driver", "no_graphics_device", "current_driver_newer", "file_md5_check_fail",
        "get_device_info_fail", "disk_space_not_enough_install", "disk_space_not_enough_download",
        "cannot_retry_update", "cannot_retry_check", "not_current_update_device",
        "not_current_check_device", "another_device_updating", "exist_driver_package",
        "unknown"}},
      {-2999, {"unknown", "timeout", "net_error", "unknown"}},
  };
  for (const auto& band : bands) {
    std::vector<std::string> read;
    for (std::size_t step = 0; step < band.texts.size(); ++step) {
      read.push_back(TextOf(band.above - static_cast<ResultCode>(step)));
    }
    EXPECT_EQ(read, band.texts) << "from " << band.above << " down";
  }
}

}  // namespace
}  // namespace electron_morvane
