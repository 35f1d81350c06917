// Starting headless Chromium with a fresh profile and speaking its DevTools
// protocol: one command at a time, events remembered until waited for.
#include "collector/tests/web/headless_chromium.h"

#include <signal.h>
#include <sodium.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/asio/connect.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "collector/web/escape.h"

namespace collector::testing {

namespace beast = boost::beast;
namespace http = beast::http;
using tcp = boost::asio::ip::tcp;

namespace {

constexpr auto kPatience = std::chrono::seconds(90);  // a loaded machine, not a timing check

pid_t StartChromium(unsigned short port, const std::filesystem::path& profile) {
    std::vector<std::string> arguments = {"/usr/bin/chromium",
                                          "--headless",
                                          "--no-sandbox",
                                          "--disable-gpu",
                                          "--disable-quic",
                                          "--no-first-run",
                                          "--disable-background-networking",
                                          "--disable-component-update",
                                          "--disable-sync",
                                          "--user-data-dir=" + profile.string(),
                                          "--remote-debugging-address=127.0.0.1",
                                          "--remote-debugging-port=" + std::to_string(port),
                                          "--window-size=1280,1400",
                                          "about:blank"};
    const std::string log = (profile / "chromium.log").string();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        setpgid(0, 0);  // its helper processes stay in a group of its own, ended with it
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        if (FILE* out = std::fopen(log.c_str(), "w")) {
            dup2(fileno(out), 1);
            dup2(fileno(out), 2);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// The address path of the first page target, once Chromium answers.
std::string PageSocketPath(boost::asio::io_context& io, unsigned short port) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
        try {
            tcp::socket socket(io);
            socket.connect({boost::asio::ip::make_address("127.0.0.1"), port});
            http::request<http::empty_body> request{http::verb::get, "/json/list", 11};
            request.set(http::field::host, "127.0.0.1");
            http::write(socket, request);
            beast::flat_buffer buffer;
            http::response<http::string_body> response;
            http::read(socket, buffer, response);
            const std::string& list = response.body();
            const std::size_t page = list.find("\"type\": \"page\"");
            if (page != std::string::npos) {
                const std::string url = JsonStringAfter(list.substr(page), "webSocketDebuggerUrl");
                const std::size_t path = url.find("/devtools/");
                if (path != std::string::npos) return url.substr(path);
            }
        } catch (const std::exception&) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    throw std::runtime_error("Chromium's DevTools did not answer");
}

std::string MessageMethod(const std::string& message) {
    return message.find("\"method\"") == std::string::npos ? std::string() : JsonStringAfter(message, "method");
}

}  // namespace

std::string JsonStringAfter(const std::string& json, const std::string& key) {
    std::size_t at = json.find("\"" + key + "\"");
    if (at == std::string::npos) throw std::runtime_error("no " + key + " in " + json.substr(0, 300));
    at = json.find('"', json.find(':', at + key.size() + 2));
    std::string text;
    for (++at; at < json.size() && json[at] != '"'; ++at) {
        if (json[at] != '\\') {
            text += json[at];
            continue;
        }
        const char escaped = json[++at];
        if (escaped == 'u') {
            unsigned code = std::stoul(json.substr(at + 1, 4), nullptr, 16);
            at += 4;
            if (code >= 0xD800 && code < 0xDC00 && json.compare(at + 1, 2, "\\u") == 0) {
                code = 0x10000 + ((code - 0xD800) << 10) + (std::stoul(json.substr(at + 3, 4), nullptr, 16) - 0xDC00);
                at += 6;
            }
            if (code < 0x80) {
                text += char(code);
            } else if (code < 0x800) {
                text += char(0xC0 | code >> 6), text += char(0x80 | (code & 0x3F));
            } else if (code < 0x10000) {
                text += char(0xE0 | code >> 12), text += char(0x80 | (code >> 6 & 0x3F)),
                    text += char(0x80 | (code & 0x3F));
            } else {
                text += char(0xF0 | code >> 18), text += char(0x80 | (code >> 12 & 0x3F));
                text += char(0x80 | (code >> 6 & 0x3F)), text += char(0x80 | (code & 0x3F));
            }
        } else {
            const std::string_view from = "nrtbf", to = "\n\r\t\b\f";
            const std::size_t mapped = from.find(escaped);
            text += mapped == std::string_view::npos ? escaped : to[mapped];
        }
    }
    return text;
}

HeadlessChromium::HeadlessChromium(unsigned short debugPort) {
    char profile[] = "/tmp/korvane-chromium-XXXXXX";
    if (!mkdtemp(profile)) throw std::runtime_error("no temporary profile folder");
    profile_ = profile;
    pid_ = StartChromium(debugPort, profile_);
    const std::string path = PageSocketPath(io_, debugPort);
    socket_.next_layer().connect({boost::asio::ip::make_address("127.0.0.1"), debugPort});
    socket_.handshake("127.0.0.1:" + std::to_string(debugPort), path);
    socket_.read_message_max(64 << 20);
    Call("Page.enable", "{}");
    Call("Runtime.enable", "{}");
}

HeadlessChromium::~HeadlessChromium() {
    beast::error_code ignored;
    socket_.next_layer().close(ignored);
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        kill(-pid_, SIGKILL);  // helpers left in its group
    }
    std::error_code error;
    std::filesystem::remove_all(profile_, error);
}

std::string HeadlessChromium::Read() {
    beast::flat_buffer buffer;
    bool done = false;
    beast::error_code error;
    socket_.async_read(buffer, [&](beast::error_code e, std::size_t) { error = e, done = true; });
    io_.restart();
    io_.run_for(kPatience);
    if (!done) {
        socket_.next_layer().cancel();
        io_.restart();
        io_.run();
        throw std::runtime_error("Chromium did not answer in time");
    }
    if (error) throw beast::system_error(error);
    return beast::buffers_to_string(buffer.data());
}

std::string HeadlessChromium::Call(const std::string& method, const std::string& params) {
    const int id = nextId_++;
    socket_.write(boost::asio::buffer("{\"id\":" + std::to_string(id) + ",\"method\":\"" + method +
                                      "\",\"params\":" + params + "}"));
    const std::string answerStart = "{\"id\":" + std::to_string(id) + ",";
    for (;;) {
        std::string message = Read();
        if (message.starts_with(answerStart)) {
            if (message.find("\"error\":") == answerStart.size()) throw std::runtime_error(method + ": " + message);
            return message;
        }
        if (const std::string event = MessageMethod(message); !event.empty()) events_.push_back(event);
    }
}

void HeadlessChromium::WaitForEvent(const std::string& method) {
    for (;;) {
        const auto seen = std::find(events_.begin(), events_.end(), method);
        if (seen != events_.end()) {
            events_.erase(events_.begin(), seen + 1);
            return;
        }
        if (const std::string event = MessageMethod(Read()); !event.empty()) events_.push_back(event);
    }
}

void HeadlessChromium::Load(const std::string& url) {
    events_.clear();
    Call("Page.navigate", "{\"url\":" + JsonString(url) + "}");
    WaitForEvent("Page.loadEventFired");
}

void HeadlessChromium::TypeAndSubmit(const std::string& text) {
    events_.clear();
    Call("Input.insertText", "{\"text\":" + JsonString(text) + "}");
    for (const char* type : {"keyDown", "keyUp"}) {
        Call("Input.dispatchKeyEvent", std::string("{\"type\":\"") + type +
                                           "\",\"key\":\"Enter\",\"code\":\"Enter\",\"windowsVirtualKeyCode\":13,"
                                           "\"nativeVirtualKeyCode\":13" +
                                           (type[3] == 'D' ? ",\"text\":\"\\r\"}" : "}"));
    }
    WaitForEvent("Page.loadEventFired");
}

std::string HeadlessChromium::Evaluate(const std::string& expression) {
    const std::string answer = Call(
        "Runtime.evaluate", "{\"expression\":" + JsonString("String(" + expression + ")") + ",\"returnByValue\":true}");
    return JsonStringAfter(answer, "value");
}

void HeadlessChromium::Screenshot(const std::filesystem::path& pngFile) {
    const std::string base64 = JsonStringAfter(Call("Page.captureScreenshot", "{\"format\":\"png\"}"), "data");
    std::string png(base64.size(), '\0');
    std::size_t size = 0;
    if (sodium_base642bin(reinterpret_cast<unsigned char*>(png.data()), png.size(), base64.data(), base64.size(),
                          nullptr, &size, nullptr, sodium_base64_VARIANT_ORIGINAL) != 0) {
        throw std::runtime_error("screenshot is not base64");
    }
    png.resize(size);
    std::filesystem::create_directories(pngFile.parent_path());
    std::ofstream(pngFile, std::ios::binary) << png;
}

}  // namespace collector::testing
