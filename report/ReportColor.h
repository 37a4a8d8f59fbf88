// A colour of the report's charts (and of the curves the window draws from
// the same computation), as plain red, green and blue components 0-255.
#pragma once

namespace morvex {

struct TReportColor {
  int red = 0;
  int green = 0;
  int blue = 0;
  friend bool operator==(const TReportColor&, const TReportColor&) = default;
};

}  // namespace morvex
