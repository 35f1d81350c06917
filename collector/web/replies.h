// The answers of the web side: every one carries the security headers and
// the page's language; HTML, JSON, CSS and redirects.
#pragma once
#include <boost/beast/http.hpp>

#include <cstdint>
#include <string>
#include <string_view>

#include "collector/web/request.h"

namespace collector {

using WebResponse = boost::beast::http::response<boost::beast::http::string_body>;

WebResponse Answer(const WebRequest& request, boost::beast::http::status status, std::string_view contentType,
                  std::string body);
WebResponse Html(const WebRequest& request, std::string body,
                 boost::beast::http::status status = boost::beast::http::status::ok);
WebResponse Json(const WebRequest& request, std::string body,
                 boost::beast::http::status status = boost::beast::http::status::ok);
WebResponse Redirect(const WebRequest& request, const std::string& location);

// The API and the CSV answer errors as JSON, the pages as a page.
bool IsMachineRoute(std::string_view path);
WebResponse NotFound(const WebRequest& request, std::string_view path);

std::string Cookie(std::string_view name, const std::string& value, std::string_view path, std::int64_t maxAge,
                   bool secure);

}  // namespace collector
