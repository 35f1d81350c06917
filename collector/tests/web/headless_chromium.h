// Debian's Chromium, headless, driven over its DevTools protocol (a WebSocket
// on a loopback port): the web tests load pages in it, type into its forms as
// a user would, read back what it rendered and take screenshots.
#pragma once
#include <sys/types.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/websocket.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace collector::testing {

class HeadlessChromium {
public:
    // Starts /usr/bin/chromium with a new empty profile and connects to its
    // page. Throws when it does not come up.
    explicit HeadlessChromium(unsigned short debugPort);
    ~HeadlessChromium();
    HeadlessChromium(const HeadlessChromium&) = delete;
    HeadlessChromium& operator=(const HeadlessChromium&) = delete;

    // Loads the address (following redirects) and waits for its load event.
    void Load(const std::string& url);
    // Types into the focused field, then presses Enter and waits for the page
    // the form leads to.
    void TypeAndSubmit(const std::string& text);
    // The value of a JavaScript expression evaluated by DevTools in the page
    // (the page's own policy does not apply to DevTools), as a string.
    std::string Evaluate(const std::string& expression);
    void Screenshot(const std::filesystem::path& pngFile);

private:
    // Sends one command and returns the raw JSON of its answer.
    std::string Call(const std::string& method, const std::string& params);
    void WaitForEvent(const std::string& method);
    std::string Read();

    pid_t pid_ = -1;
    std::filesystem::path profile_;
    boost::asio::io_context io_;
    boost::beast::websocket::stream<boost::asio::ip::tcp::socket> socket_{io_};
    int nextId_ = 1;
    std::vector<std::string> events_;  // events read while waiting for answers
};

// A JSON string literal's text, the first one after "key": in json.
std::string JsonStringAfter(const std::string& json, const std::string& key);

}  // namespace collector::testing
