// The wall's HTTP server: the page, /status.json, each camera's latest picture as JPEG (one
// or a multipart stream) and the mosaic. It runs on threads of its own and only copies tiles
// out of the mosaic, so a slow or silent client never holds up a camera.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "wall_mosaic.h"

namespace httplib {
class Server;
}

namespace qvtool {

// Parses "[ADDR:]PORT" ("8080", "0.0.0.0:8080", "[::1]:8080"); the address is 127.0.0.1
// when not given, the port 0-65535 (0: a free one). False on anything else.
bool ParseHttpAddress(const std::string& text, std::string* host, int* port);

class WallServer {
public:
    static constexpr int kMaxClients = 16;  // connections served at once; 503 beyond

    WallServer(const Mosaic& mosaic, std::function<std::string()> status_json);
    ~WallServer();

    // Starts serving on host:port; the port bound, or -1 when it cannot be bound.
    int Start(const std::string& host, int port);
    // Ends the clients' requests and joins the server's threads.
    void Stop();

private:
    struct Cached {
        std::mutex mutex;
        uint64_t version = UINT64_MAX;
        std::shared_ptr<const std::string> jpeg;
    };
    std::shared_ptr<const std::string> Jpeg(int index, uint64_t* version);  // index -1: the mosaic
    // Waits until the version of tile `index` (-1: any) differs from `after`, for at most
    // wait_ms; false when it did not or the server is stopping.
    bool WaitNewer(int index, uint64_t after, int wait_ms) const;
    void Routes();

    const Mosaic& mosaic_;
    std::function<std::string()> status_json_;
    std::unique_ptr<httplib::Server> server_;
    std::vector<std::unique_ptr<Cached>> cache_;  // one per tile, then the mosaic's
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace qvtool
