#pragma once
// JSON as people read it, and error user information as text.

#include <string>

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

#include "zel/platform/Error.h"

namespace zelnet {

/// Two-space indentation, one member per line.
[[nodiscard]] std::string prettyJSON(const boost::json::value& value);

/// {key: text} of the error's user information (an underlying error as its description).
[[nodiscard]] boost::json::object userInfoAsText(const zel::Error& error);

}  // namespace zelnet
