#include "protocol/result_codes.h"

#include <gtest/gtest.h>

#include <utility>

namespace electron_morvane {
namespace {

TEST(StatusString, NamesEveryCodeOfTheTable) {
  const std::pair<ResultCode, const char*> table[] = {
      {0, "ok"},
      {-1000, "invalid_parameter"},
      {-1001, "array_size_not_enough"},
      {-1002, "no_available_data"},
      {-1003, "cancel_operation"},
      {-1004, "cannot_cancel"},
      {-1006, "error_sdk_status"},
      {-2000, "business_no_sdk_config"},
      {-2001, "download_sdk_config_fail"},
      {-2002, "download_driver_config_fail"},
      {-2003, "parse_sdk_config_fail"},
      {-2004, "parse_driver_config_fail"},
      {-2005, "no_match_driver"},
      {-2006, "no_graphics_device"},
      {-2007, "current_driver_newer"},
      {-2008, "file_md5_check_fail"},
      {-2009, "get_device_info_fail"},
      {-2010, "disk_space_not_enough_install"},
      {-2011, "disk_space_not_enough_download"},
      {-2012, "cannot_retry_update"},
      {-2013, "cannot_retry_check"},
      {-2014, "not_current_update_device"},
      {-2015, "not_current_check_device"},
      {-2016, "another_device_updating"},
      {-2017, "exist_driver_package"},
      {-3000, "timeout"},
      {-3001, "net_error"},
  };
  for (const auto& [code, text] : table) EXPECT_EQ(StatusString(code), text) << code;
}

TEST(StatusString, CallsEverythingElseUnknown) {
  // -1005 marks a response whose handler stored no result; the rest sit just outside a band.
  for (ResultCode code : {-1005, -999, -1007, -1999, -2018, -2999, -3002, 1, 2147483647,
                          static_cast<ResultCode>(-2147483647 - 1)}) {
    EXPECT_EQ(StatusString(code), "unknown") << code;
  }
}

}  // namespace
}  // namespace electron_morvane
