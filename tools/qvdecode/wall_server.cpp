#include "wall_server.h"

#include <chrono>
#include <cstdlib>
#include <sys/socket.h>
#include <sys/time.h>

#include <httplib.h>

#include "http_client_pool.h"
#include "jpeg_encoder.h"
#include "wall_page.h"

namespace qvtool {
namespace {

constexpr int kJpegQuality = 80;
constexpr int kLongPollMs = 1000;  // the longest a request with ?after= waits for a newer picture
// A client that takes no bytes for this long is dropped; the kernel's send buffer, kept
// small, is all that waits for it.
constexpr int kWriteTimeoutS = 2;
constexpr int kSendBuffer = 128 * 1024;
constexpr const char* kBoundary = "qvwallpicture";

bool ParseNumber(const std::string& text, uint64_t max, uint64_t* value) {
    if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    if (*end != '\0' || v > max) return false;
    *value = v;
    return true;
}

}  // namespace

bool ParseHttpAddress(const std::string& text, std::string* host, int* port) {
    std::string h = "127.0.0.1", p = text;
    const size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        h = text.substr(0, colon);
        p = text.substr(colon + 1);
        if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
        if (h.empty()) return false;
    }
    uint64_t number = 0;
    if (!ParseNumber(p, 65535, &number)) return false;
    *host = h;
    *port = static_cast<int>(number);
    return true;
}

WallServer::WallServer(const Mosaic& mosaic, std::function<std::string()> status_json)
    : mosaic_(mosaic), status_json_(std::move(status_json)), server_(std::make_unique<httplib::Server>()) {
    for (int i = 0; i <= mosaic_.count(); ++i) cache_.push_back(std::make_unique<Cached>());
    Routes();
}

WallServer::~WallServer() { Stop(); }

int WallServer::Start(const std::string& host, int port) {
    const int bound = port == 0 ? server_->bind_to_any_port(host) : (server_->bind_to_port(host, port) ? port : -1);
    if (bound < 0) return -1;
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    return bound;
}

void WallServer::Stop() {
    stopping_ = true;
    server_->stop();
    if (thread_.joinable()) thread_.join();
}

bool WallServer::WaitNewer(int index, uint64_t after, int wait_ms) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    for (;;) {
        const uint64_t now = index < 0 ? mosaic_.Version() : mosaic_.TileVersion(index);
        if (now != after) return true;
        if (stopping_ || std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::shared_ptr<const std::string> WallServer::Jpeg(int index, uint64_t* version) {
    Cached& cached = *cache_[static_cast<size_t>(index < 0 ? mosaic_.count() : index)];
    const uint64_t current = index < 0 ? mosaic_.Version() : mosaic_.TileVersion(index);
    // One encoding per picture however many clients ask: the others wait for it here.
    std::lock_guard<std::mutex> lock(cached.mutex);
    if (!cached.jpeg || cached.version != current) {
        // Not kept per thread: sixteen workers' copies of the mosaic would stay resident.
        std::vector<uint8_t> rgb;
        const uint64_t copied = index < 0 ? mosaic_.CopyAll(&rgb) : mosaic_.CopyTile(index, &rgb);
        auto jpeg = std::make_shared<std::string>();
        const int w = index < 0 ? mosaic_.width() : mosaic_.tile_width();
        const int h = index < 0 ? mosaic_.height() : mosaic_.tile_height();
        EncodeJpeg(rgb.data(), w, h, kJpegQuality, jpeg.get());
        cached.version = copied;
        cached.jpeg = std::move(jpeg);
    }
    *version = cached.version;
    return cached.jpeg;
}

void WallServer::Routes() {
    httplib::Server& s = *server_;
    s.new_task_queue = [] { return new HttpClientPool(kMaxClients); };
    s.set_read_timeout(2, 0);
    s.set_write_timeout(kWriteTimeoutS, 0);
    s.set_keep_alive_timeout(2);
    s.set_payload_max_length(64 * 1024);
    s.set_socket_options([](socket_t sock) {
        int one = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        // Inherited by every accepted connection: a small send buffer bounds what a client
        // that does not read holds, and the send timeout ends a write it never takes (a
        // blocking send of a picture would otherwise wait for ever).
        int size = kSendBuffer;
        setsockopt(sock, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        timeval timeout{kWriteTimeoutS, 0};
        setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    });
    s.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
        if (HttpClientPool::RefusingThisConnection()) {
            res.status = 503;
            res.set_header("Retry-After", "1");
            res.set_header("Connection", "close");
            res.set_content("too many clients\n", "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (req.method != "GET" && req.method != "HEAD") {
            res.status = 405;
            res.set_header("Allow", "GET, HEAD");
            res.set_content("only GET and HEAD\n", "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        }
        res.set_header("Cache-Control", "no-store");
        return httplib::Server::HandlerResponse::Unhandled;
    });
    s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty() && res.status == 404) res.set_content("not found\n", "text/plain");
    });
    s.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(kWallPage, "text/html; charset=utf-8");
    });
    s.Get("/status.json", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(status_json_(), "application/json");
    });
    // ?after=V: answered once the picture is newer than version V (the X-Picture header of
    // the last answer), or after a second without one.
    auto picture = [this](int index, const httplib::Request& req, httplib::Response& res) {
        uint64_t after = 0;
        if (req.method == "GET" && ParseNumber(req.get_param_value("after"), UINT64_MAX, &after)) {
            WaitNewer(index, after, kLongPollMs);
        }
        uint64_t version = 0;
        const std::shared_ptr<const std::string> jpeg = Jpeg(index, &version);
        res.set_header("X-Picture", std::to_string(version));
        res.set_content(*jpeg, "image/jpeg");
    };
    s.Get("/wall.jpg", [picture](const httplib::Request& req, httplib::Response& res) { picture(-1, req, res); });
    auto camera = [this](const httplib::Request& req, uint64_t* index) {
        return ParseNumber(req.matches[1].str(), static_cast<uint64_t>(mosaic_.count() - 1), index);
    };
    s.Get(R"(/camera/(\d+)\.jpg)", [picture, camera](const httplib::Request& req, httplib::Response& res) {
        uint64_t index = 0;
        if (!camera(req, &index)) {
            res.status = 404;
            return;
        }
        picture(static_cast<int>(index), req, res);
    });
    s.Get(R"(/camera/(\d+)\.mjpg)", [this, camera](const httplib::Request& req, httplib::Response& res) {
        uint64_t index = 0;
        if (!camera(req, &index)) {
            res.status = 404;
            return;
        }
        const std::string type = std::string("multipart/x-mixed-replace; boundary=") + kBoundary;
        if (req.method == "HEAD") {
            res.set_header("Content-Type", type);
            return;
        }
        uint64_t last = UINT64_MAX;
        // Each call writes the next picture, or nothing after a second without one; a write
        // the client does not take within the timeout ends the stream.
        res.set_content_provider(type.c_str(), [this, index, last](size_t, httplib::DataSink& sink) mutable {
            if (last != UINT64_MAX && !WaitNewer(static_cast<int>(index), last, kLongPollMs)) return !stopping_;
            const std::shared_ptr<const std::string> jpeg = Jpeg(static_cast<int>(index), &last);
            const std::string head = std::string("--") + kBoundary + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                                     std::to_string(jpeg->size()) + "\r\n\r\n";
            return sink.write(head.data(), head.size()) && sink.write(jpeg->data(), jpeg->size()) &&
                   sink.write("\r\n", 2);
        });
    });
}

}  // namespace qvtool
